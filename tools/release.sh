#!/usr/bin/env bash
# Builds the programs we ship (the 32-bit preset) from scratch into build/release/vestigia.exe and
# build/release/vestigia-merge.exe and prints their SHA-256. The build is reproducible: the same source
# gives the same bytes, so anyone can check that an exe they were handed is one this source makes
# (tools/check-release.sh).
#
# Given a code-signing certificate, it also writes signed copies of both into build/release/signed/: an
# Authenticode signature with SHA-256, described as "Vestigia", and prints their SHA-256 too. The
# certificate comes from the environment, as a build pipeline passes its secrets:
#   VESTIGIA_SIGN_PKCS12     a PKCS#12 file holding the certificate (and its chain) and the key, or
#   VESTIGIA_SIGN_CERT       the certificate (and its chain), PEM, with
#   VESTIGIA_SIGN_KEY        its private key, PEM;
#   VESTIGIA_SIGN_PASSWORD   the password of the PKCS#12 file or of the key, if it has one;
#   VESTIGIA_SIGN_URL        optional: a web address to put in the signature;
#   VESTIGIA_TIMESTAMP_URL   optional: an RFC 3161 timestamp server. Without one the signature carries no
#                            time, and Windows stops trusting it when the certificate expires.
# The certificate, the key and the password are checked before anything is built: a missing or unreadable
# file, a wrong password or a key that does not belong to the certificate stops the script with a message
# and a non-zero exit code. The signed folder appears only once both exes are signed, so it never holds
# one signed exe without the other, nor a part of one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "release.sh: $*" >&2; exit 1; }

bash "$root/tools/setup.sh" >&2
rm -rf "$root/build/release/signed"  # signed copies from an earlier run are never taken for this one's
absolute() { [[ -z $1 ]] || realpath -m -- "$1"; }  # the build runs in another folder
pkcs12=$(absolute "${VESTIGIA_SIGN_PKCS12:-}") cert=$(absolute "${VESTIGIA_SIGN_CERT:-}")
key=$(absolute "${VESTIGIA_SIGN_KEY:-}")
export VESTIGIA_SIGN_PASSWORD=${VESTIGIA_SIGN_PASSWORD:-}
signer=()
if [[ -n $pkcs12 ]]; then
  [[ -r $pkcs12 ]] || fail "cannot read the PKCS#12 file $pkcs12"
  openssl pkcs12 -in "$pkcs12" -passin env:VESTIGIA_SIGN_PASSWORD -noout 2>/dev/null ||
    fail "cannot open $pkcs12: a wrong password, or not a PKCS#12 file"
  certificate_key=$(openssl pkcs12 -in "$pkcs12" -passin env:VESTIGIA_SIGN_PASSWORD -nokeys -clcerts 2>/dev/null |
    openssl x509 -noout -pubkey 2>/dev/null) || fail "$pkcs12 holds no certificate"
  private_key=$(openssl pkcs12 -in "$pkcs12" -passin env:VESTIGIA_SIGN_PASSWORD -nocerts -nodes 2>/dev/null |
    openssl pkey -pubout 2>/dev/null) || fail "$pkcs12 holds no private key"
  signer=(-pkcs12 "$pkcs12")
elif [[ -n $cert || -n $key ]]; then
  [[ -r $cert ]] || fail "cannot read the certificate VESTIGIA_SIGN_CERT='$cert'"
  [[ -r $key ]] || fail "cannot read the key VESTIGIA_SIGN_KEY='$key'"
  certificate_key=$(openssl x509 -in "$cert" -noout -pubkey 2>/dev/null) || fail "$cert is no PEM certificate"
  private_key=$(openssl pkey -in "$key" -passin env:VESTIGIA_SIGN_PASSWORD -pubout 2>/dev/null) ||
    fail "cannot open the key $key: a wrong password, or no PEM private key"
  signer=(-certs "$cert" -key "$key")
fi
if ((${#signer[@]})); then
  [[ $certificate_key == "$private_key" ]] || fail "the private key does not belong to the certificate"
fi

rm -rf "$root/build/release"
cmake -S "$root" --preset win32 -B "$root/build/release" >&2
cmake --build "$root/build/release" >&2
cd "$root/build/release"
programs=(vestigia.exe vestigia-merge.exe)
sha256sum "${programs[@]}"
((${#signer[@]})) || exit 0

options=(-h sha256 -n Vestigia)
[[ -n ${VESTIGIA_SIGN_URL:-} ]] && options+=(-i "$VESTIGIA_SIGN_URL")
if [[ -n ${VESTIGIA_TIMESTAMP_URL:-} ]]; then
  options+=(-ts "$VESTIGIA_TIMESTAMP_URL")
else
  echo "release.sh: no timestamp server (VESTIGIA_TIMESTAMP_URL): the signature carries no time, and Windows" \
    "stops trusting it when the certificate expires" >&2
fi
mkdir signed.partial
if [[ -n $VESTIGIA_SIGN_PASSWORD ]]; then  # through a file of this user's only: an argument is seen by all
  secret=$(mktemp)
  trap 'rm -f "$secret"' EXIT
  printf '%s' "$VESTIGIA_SIGN_PASSWORD" >"$secret"
  options+=(-readpass "$secret")
fi
for program in "${programs[@]}"; do
  osslsigncode sign "${signer[@]}" "${options[@]}" -in "$program" -out "signed.partial/$program" >&2 ||
    { rm -rf signed.partial; fail "signing $program failed"; }
done
mv signed.partial signed
sha256sum "${programs[@]/#/signed/}"
