#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and only those that are missing.
set -euo pipefail

packages=(
    cmake g++ make git
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libssl-dev python3-cryptography-vectors clang-format clang libclang-rt-14-dev
    nsis wixl
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
    wine wine32:i386 xvfb xauth util-linux x11-apps netpbm
    # The x86_64 build runs the Wine tests where the kernel cannot start 32-bit programs.
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    binutils-mingw-w64-x86-64 wine64
    librsvg2-bin icoutils libxml2-utils
    # Signing the shipped files, and the throwaway certificate of its test.
    osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}; run this as root to install them" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
