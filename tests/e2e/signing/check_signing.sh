#!/usr/bin/env bash
# check_signing.sh sign WORK FILE... [--installer SETUP MAKENSIS_COMMAND...] -- SIGN_COMMAND...
#     Makes a throwaway self-signed code-signing certificate in WORK (WORK/cert.pem, key.pem),
#     signs copies of FILE... in WORK with the build's SIGN_COMMAND (which names that
#     certificate), and, with --installer, builds the installer SETUP with MAKENSIS_COMMAND (whose
#     uninstaller hook is "keep" below) and signs it as the build does. Then every signed file
#     must verify against that certificate, and a copy with one byte changed must not.
# check_signing.sh keep COPY SIGN_COMMAND... FILE
#     The installer's uninstaller hook: signs FILE, then keeps a copy of it as COPY, where the
#     check above finds it.
# check_signing.sh start WORK EMULATOR...
#     The signed copies of the host check and of the startup agent must still start and end
#     normally under EMULATOR.
set -uo pipefail
: "${OSSLSIGNCODE:=osslsigncode}"
: "${OPENSSL:=openssl}"

fail=0
failed() {
    echo "FAIL: $*"
    fail=1
}

# verify FILE: the signature is present, made over SHA-256 digests, and intact: the digest in it
# matches the file, and it checks out against the throwaway certificate as trust anchor. Without
# that anchor osslsigncode rejects the self-signed chain, as expected, and could not tell a
# broken signature from an untrusted one.
verify() {
    local file=$1 out
    out=$("$OSSLSIGNCODE" verify -CAfile "$work/cert.pem" -in "$file" 2>&1)
    local rc=$?
    if [ $rc -ne 0 ] || ! grep -q '^Signature verification: ok' <<<"$out"; then
        failed "$file does not verify (exit code $rc):"
        echo "$out" | sed 's/^/    /'
        return
    fi
    grep -q '^Message digest algorithm  *: SHA256' <<<"$out" ||
        failed "$file is not signed over a SHA-256 digest"
    grep -q 'invalid PE checksum' <<<"$out" && failed "$file: the PE checksum is wrong"
    echo "ok: $file"
}

sign_copies() {
    work=$1
    shift
    local files=() setup= makensis=()
    while [ $# -gt 0 ] && [ "$1" != -- ] && [ "$1" != --installer ]; do
        files+=("$1")
        shift
    done
    if [ "${1:-}" = --installer ]; then
        setup=$2
        shift 2
        while [ $# -gt 0 ] && [ "$1" != -- ]; do
            makensis+=("$1")
            shift
        done
    fi
    [ "${1:-}" = -- ] || {
        echo "check_signing.sh: no signing command after --" >&2
        exit 2
    }
    shift
    local sign=("$@")

    rm -rf "$work"
    mkdir -p "$work"
    if ! "$OPENSSL" req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=KX7 throwaway signer" \
        -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" \
        >"$work/openssl.log" 2>&1; then
        cat "$work/openssl.log"
        exit 1
    fi

    local signed=()
    for file in "${files[@]}"; do
        local copy
        copy="$work/$(basename "$file")"
        cp "$file" "$copy" && "${sign[@]}" "$copy" || failed "signing $copy"
        signed+=("$copy")
    done
    if [ -n "$setup" ]; then
        # The hook keeps the uninstaller as signed, the only way to see it without installing.
        if "${makensis[@]}" && "${sign[@]}" "$setup"; then
            [ -f "$work/Uninstall.exe" ] || failed "makensis never ran the uninstaller hook"
            signed+=("$setup" "$work/Uninstall.exe")
        else
            failed "building or signing the installer $setup"
        fi
    fi
    for file in "${signed[@]}"; do
        [ -f "$file" ] && verify "$file"
    done

    # The check must catch a signed file changed afterwards.
    local tampered="$work/tampered.exe"
    cp "${signed[0]}" "$tampered"
    printf 'X' | dd of="$tampered" bs=1 seek=4096 conv=notrunc status=none
    if "$OSSLSIGNCODE" verify -CAfile "$work/cert.pem" -in "$tampered" >/dev/null 2>&1; then
        failed "a signed file with a changed byte still verifies"
    fi
}

start_copies() {
    local work=$1
    shift
    local out rc
    out=$("$@" "$work/KX7HostCheck.exe" '/?' 2>&1)
    rc=$?
    if [ $rc -ne 0 ] || ! grep -q 'Usage: KX7HostCheck' <<<"$out"; then
        failed "the signed KX7HostCheck.exe /? exited with $rc, printing:"
        echo "$out" | sed 's/^/    /'
    fi
    # Without /S: the agent starts nothing and ends at once.
    out=$("$@" "$work/StonevaultStartupAgent.exe" 2>&1)
    rc=$?
    [ $rc -eq 0 ] || failed "the signed StonevaultStartupAgent.exe exited with $rc: $out"
}

mode=${1:-}
shift || true
case $mode in
    sign) sign_copies "$@" ;;
    keep)
        copy=$1
        shift
        "$@" || exit 1
        cp "${!#}" "$copy"
        ;;
    start) start_copies "$@" ;;
    *)
        echo "usage: check_signing.sh sign|keep|start ..." >&2
        exit 2
        ;;
esac
exit $fail
