#!/usr/bin/env bash
# check-release.sh [--ca CERTIFICATES] [--unsigned EXE] SIGNED_EXE
# Checks a signed vestigia.exe or vestigia-merge.exe against this source in three steps, and says which
# one failed (exit code 1, 2 or 3; 0 when all passed):
#   1. the signature is valid: the file is byte for byte what was signed, and the certificate chains to
#      one in CERTIFICATES (PEM; default: the system's trusted roots; for a private or self-signed
#      certificate, give that certificate);
#   2. removing the signature gives back the exe as it was built;
#   3. that exe is the program this source builds: the same bytes as the exe of the same file name in a
#      fresh tools/release.sh build, or as EXE when --unsigned names one.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ca=/etc/ssl/certs/ca-certificates.crt unsigned=
while [[ ${1:-} == --ca || ${1:-} == --unsigned ]]; do
  [[ $1 == --ca ]] && ca=$2 || unsigned=$2
  shift 2
done
(($# == 1)) || { sed -n '2p' "$0" >&2; exit 64; }
signed=$1 name=$(basename "$1") work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! osslsigncode verify -in "$signed" -CAfile "$ca" >"$work/verify.txt" 2>&1; then
  echo "1. signature: FAILED: $signed is not signed, was changed after signing, or its certificate does" \
    "not chain to $ca"
  grep -iE 'mismatch|fail|error' "$work/verify.txt" | sed 's/^/   /'
  exit 1
fi
echo "1. signature: valid ($(grep -m1 -i 'subject' "$work/verify.txt" | sed 's/^[[:space:]]*//'))"
if ! osslsigncode remove-signature -in "$signed" -out "$work/$name" >"$work/remove.txt" 2>&1; then
  echo "2. removing the signature: FAILED"
  sed 's/^/   /' "$work/remove.txt"
  exit 2
fi
echo "2. signature removed: SHA-256 $(sha256sum <"$work/$name" | cut -d' ' -f1)"
if [[ -z $unsigned ]]; then
  unsigned=$root/build/release/$name
  env -u VESTIGIA_SIGN_PKCS12 -u VESTIGIA_SIGN_CERT -u VESTIGIA_SIGN_KEY bash "$root/tools/release.sh" >/dev/null ||
    { echo "3. the program this source builds: FAILED: tools/release.sh did not build it"; exit 3; }
fi
if [[ ! -f $unsigned ]]; then
  echo "3. the program this source builds: FAILED: this source builds no $name (keep the exe's released name)"
  exit 3
fi
if ! cmp -s "$work/$name" "$unsigned"; then
  echo "3. the program this source builds: FAILED: without its signature, $signed differs from $unsigned"
  exit 3
fi
echo "3. the program this source builds: the same bytes as $unsigned"
