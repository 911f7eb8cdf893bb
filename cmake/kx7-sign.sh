#!/bin/sh
# kx7-sign.sh --osslsigncode PATH --cert CERT --key KEY --description TEXT
#             [--timestamp URL] [--password-file FILE] FILE
# Signs the Windows program, installer or MSI FILE in place with an Authenticode signature
# (SHA-256). With --timestamp the signature is counter-signed by that RFC 3161 service, so it
# stays valid after the certificate expires. osslsigncode cannot write over its input, so the
# signed file is made beside it and then replaces it; a failed signing leaves FILE as it was.
set -eu
osslsigncode=osslsigncode
while [ $# -gt 1 ]; do
    case $1 in
        --osslsigncode) osslsigncode=$2 ;;
        --cert) cert=$2 ;;
        --key) key=$2 ;;
        --description) description=$2 ;;
        --timestamp) timestamp=$2 ;;
        --password-file) password_file=$2 ;;
        *)
            echo "kx7-sign.sh: unknown option '$1'" >&2
            exit 2
            ;;
    esac
    shift 2
done
if [ $# -ne 1 ] || [ -z "${cert:-}" ] || [ -z "${key:-}" ]; then
    echo "usage: kx7-sign.sh --cert CERT --key KEY [options] FILE" >&2
    exit 2
fi
file=$1
signed="$file.signing"
rm -f "$signed"
set -- sign -certs "$cert" -key "$key" -h sha256
[ -n "${description:-}" ] && set -- "$@" -n "$description"
[ -n "${timestamp:-}" ] && set -- "$@" -ts "$timestamp"
[ -n "${password_file:-}" ] && set -- "$@" -readpass "$password_file"
if ! "$osslsigncode" "$@" -in "$file" -out "$signed" >"$signed.log" 2>&1; then
    cat "$signed.log" >&2
    rm -f "$signed" "$signed.log"
    echo "kx7-sign.sh: signing $file failed" >&2
    exit 1
fi
rm -f "$signed.log"
mv -f "$signed" "$file"
