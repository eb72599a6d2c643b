#!/usr/bin/env bash
# release_checks.sh SOURCE_DIR BUILD WORK: the 32-bit exes we ship, in BUILD (as the cases ran them), start
# on Windows XP SP3 and write nothing to the registry; a release signed with a throwaway certificate is each of
# them byte for byte once unsigned (a reproducible build). Leaves the signed exes in WORK for the cases to run.
set -uo pipefail
src=$1 build=$(realpath "$2") work=$3 failures=0
programs=(vestigia.exe vestigia-merge.exe)
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

reviewed=$(awk '!/^#/ && $2 <= 5.1 {print $1}' "$src/tests/xp_imports.txt" | LC_ALL=C sort)
all_imports=
# check_exe NAME SUBSYSTEM LEVEL FORBIDDEN: its subsystem as file(1) names it, the execution level its
# manifest requests, and a pattern of DLL!function that it must not import.
check_exe() {
  local exe=$build/$1 headers imports manifest
  headers=$(i686-w64-mingw32-objdump -p "$exe")
  [[ $(file -b "$exe") == "PE32 executable ($2) "*"(stripped to external PDB)"* ]] ||
    fail "$1 is not a stripped PE32 $2 exe"
  [[ $(grep -E '^M(aj|in)or(OSystem|Subsystem)Version' <<<"$headers" | cut -f2 | tr '\n' ' ') == '5 1 5 1 ' ]] ||
    fail "the PE header of $1 does not ask for Windows XP (5.1)"
  imports=$(awk '/DLL Name/ {dll = $3} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll "!" $3}' <<<"$headers" |
    LC_ALL=C sort)
  all_imports+=$imports$'\n'
  comm -13 <(echo "$reviewed") <(echo "$imports") | grep . &&
    fail "$1 imports these, not reviewed as present on Windows XP in tests/xp_imports.txt"
  grep -E "$4" <<<"$imports" && fail "$1 imports a registry function that it must not"
  manifest=$(wrestool -x --raw --type=24 "$exe")
  [[ $manifest == *"level=\"$3\""* ]] || fail "the manifest of $1 does not request $3"
  python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parseString(sys.stdin.read())' <<<"$manifest" ||
    fail "the manifest of $1 is not well-formed XML"
  grep -oE '<[^>]+>' <<<"$manifest" | grep -E 'xmlns.*xmlns' && fail "a manifest element of $1 declares two namespaces"
}
check_exe vestigia.exe GUI requireAdministrator '!Reg(Set|Create|Delete|Save|Restore|Load|Replace|Rename|Copy|Flush|UnLoad)'
check_exe vestigia-merge.exe console asInvoker '!(SH)?Reg'
# The merger holds every report in memory: it may use the address space above 2 GB where Windows gives it.
grep -qx $'\tlarge address aware' <<<"$(i686-w64-mingw32-objdump -p "$build/vestigia-merge.exe")" ||
  fail "vestigia-merge.exe is not marked large-address-aware"
diff <(echo "$reviewed") <(LC_ALL=C sort -u <<<"$all_imports" | grep .) ||
  fail "tests/xp_imports.txt lists functions (<) that neither exe imports"

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 1 -subj /CN=Throwaway 2>/dev/null
openssl genpkey -algorithm RSA -out other.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.p12 -passout pass:throwaway

# Refused before anything is built, leaving no signed file: a missing file, a wrong password, another key.
for bad in PKCS12=missing.p12 "PKCS12=signer.p12 PASSWORD=wrong" "CERT=cert.pem KEY=other.pem"; do
  env VESTIGIA_SIGN_PASSWORD=throwaway $(printf 'VESTIGIA_SIGN_%s ' $bad) bash "$src/tools/release.sh" \
    >/dev/null 2>&1 && fail "release.sh signed with $bad"
  [[ -e $src/build/release/signed ]] && fail "release.sh left a signed file with $bad"
done

VESTIGIA_SIGN_PKCS12=signer.p12 VESTIGIA_SIGN_PASSWORD=throwaway bash "$src/tools/release.sh" >/dev/null \
  2>release.log || fail "release.sh did not sign: $(tail -1 release.log)"
for program in "${programs[@]}"; do
  cp "$src/build/release/signed/$program" "$program"
  bash "$src/tools/check-release.sh" --ca cert.pem --unsigned "$build/$program" "$program" ||
    fail "the signed $program fails"

  # One byte of its code changed after signing.
  cp "$program" "tampered-$program"
  code=$((16#$(i686-w64-mingw32-objdump -h "$program" | awk '$2 == ".text" {print $6}') + 256))
  printf '\x90' | dd of="tampered-$program" bs=1 seek=$code conv=notrunc status=none
  cmp -s "$program" "tampered-$program" && fail "the byte to change in $program was already 0x90"
  bash "$src/tools/check-release.sh" --ca cert.pem --unsigned "$build/$program" "tampered-$program"
  (($? == 1)) || fail "a tampered $program was not refused for its signature"
done
((failures == 0)) && echo "all release checks passed"
