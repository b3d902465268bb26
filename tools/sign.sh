#!/usr/bin/env bash
# Signs a Windows executable in place with osslsigncode: an Authenticode
# signature with SHA-256 digests, from a PKCS#12 file or a key in a PKCS#11
# token (a hardware token, an HSM, or a signing service's PKCS#11 module).
# It is a ready signing command for the build (SIGN_COMMAND):
#
#   tools/sign.sh --pkcs12 CERT.p12 [--password-file FILE] [--timestamp URL] EXE
#   tools/sign.sh --pkcs11-module MODULE --key KEY --certs CHAIN.pem
#                 [--password-file FILE] [--timestamp URL] EXE
#
# KEY is the key's id or PKCS#11 URI in the token; CHAIN.pem the signing
# certificate and its chain; the password file holds the PKCS#12 password or
# the token's PIN. With a timestamp server (RFC 3161) the signature carries
# its time; without one the signing time is SOURCE_DATE_EPOCH, which the
# build sets to the commit's time, so that one key's signatures of one
# commit are the same bytes each time. The build also sets
# SIGN_PRODUCT_NAME and SIGN_PRODUCT_URL, which Windows shows as the signed
# program's name and link.
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
if [ -n "$timestamp" ]; then
    options+=(-ts "$timestamp")
elif [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    options+=(-time "$SOURCE_DATE_EPOCH")
fi
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
