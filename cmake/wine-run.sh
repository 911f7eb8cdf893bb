#!/bin/sh
# wine-run.sh ARCH PREFIX PROGRAM [ARGS...]
# Runs a Windows program in the build tree's throwaway Wine prefix, never in ~/.wine. ARCH is
# win32 or win64, the build's architecture: a 64-bit build runs under the 64-bit loader, which
# also works where the kernel cannot start 32-bit programs (the plain `wine` command picks the
# 32-bit loader whenever it is installed). The prefix is made on first use; the lock keeps two
# parallel tests from both making it.
arch=$1
prefix=$2
shift 2
case $arch in
    win32) wine=wine ;;
    win64)
        wine=/usr/lib/wine/wine64
        export WINELOADER=$wine
        ;;
    *)
        echo "wine-run.sh: unknown architecture '$arch'" >&2
        exit 2
        ;;
esac
export WINEPREFIX="$prefix"
export WINEARCH="$arch"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        "$wine" wineboot -i >/dev/null 2>&1
        wineserver -w
    fi
) 9>"$prefix.lock"
exec "$wine" "$@"
