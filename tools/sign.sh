#!/usr/bin/env bash
# Signs a Windows executable in place with osslsigncode, with SHA-256
# digests, from a PKCS#12 file or a key in a PKCS#11 token: a ready signing
# command for the build (SIGN_COMMAND). docs/releasing.md says how to use it.
set -euo pipefail
usage() {
    echo "usage: sign.sh (--pkcs12 FILE | --pkcs11-module MODULE --key KEY --certs FILE)" \
         "[--password-file FILE] [--timestamp URL] EXE" >&2
    exit 2
}
key=()
options=()
timestamp=""
while [ $# -gt 1 ]; do
    case "$1" in
        --pkcs12) key+=(-pkcs12 "$2") ;;
        --pkcs11-module) key+=(-pkcs11module "$2") ;;
        --key) key+=(-key "$2") ;;
        --certs) key+=(-certs "$2") ;;
        --password-file) options+=(-readpass "$2") ;;
        --timestamp) timestamp=$2 ;;
        *) usage ;;
    esac
    shift 2
done
if [ $# -ne 1 ] || [ ${#key[@]} -eq 0 ]; then
    usage
fi
file=$1
# Without a timestamp server the signing time is the commit's, which the
# build gives as SOURCE_DATE_EPOCH, so that one key's signatures of one
# commit are the same bytes each time.
if [ -n "$timestamp" ]; then
    options+=(-ts "$timestamp")
elif [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    options+=(-time "$SOURCE_DATE_EPOCH")
fi
# The build names the program and its link, which Windows shows with the
# signature.
if [ -n "${SIGN_PRODUCT_NAME:-}" ]; then
    options+=(-n "$SIGN_PRODUCT_NAME")
fi
if [ -n "${SIGN_PRODUCT_URL:-}" ]; then
    options+=(-i "$SIGN_PRODUCT_URL")
fi

# osslsigncode writes a new file; copied over the old one, it keeps the
# old one's name and permissions.
signed="$file.signed"
rm -f "$signed"
trap 'rm -f "$signed"' EXIT
osslsigncode sign -h sha256 "${key[@]}" "${options[@]}" -in "$file" -out "$signed" >/dev/null
cp "$signed" "$file"
