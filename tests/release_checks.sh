#!/usr/bin/env bash
# release_checks.sh SOURCE_DIR EXE WORK: EXE, the program we ship as the cases ran it, is a stripped 32-bit
# GUI exe that starts on Windows XP SP3 (PE header, manifest and imports), writes nothing to the registry
# and asks for administrator rights. A release signed with a throwaway certificate (tools/release.sh) and
# checked as a user would (tools/check-release.sh) is EXE byte for byte once unsigned, so the release build
# is reproducible. Leaves the signed exe at WORK/vestigia.exe for a case to run.
set -uo pipefail
src=$1 exe=$2 work=$3 failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

headers=$(i686-w64-mingw32-objdump -p "$exe")
[[ $(file -b "$exe") == "PE32 executable (GUI) "*"(stripped to external PDB)"* ]] || fail "not a stripped PE32 GUI exe"
[[ $(grep -E '^M(aj|in)or(OSystem|Subsystem)Version' <<<"$headers" | cut -f2 | tr '\n' ' ') == '5 1 5 1 ' ]] ||
  fail "the PE header does not ask for Windows XP (5.1)"
diff <(awk '!/^#/ && $2 <= 5.1 {print $1}' "$src/tests/xp_imports.txt" | LC_ALL=C sort) \
  <(awk '/DLL Name/ {dll = $3} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll "!" $3}' <<<"$headers" | LC_ALL=C sort) ||
  fail "its imports (>) are not those reviewed as present on Windows XP (<) in tests/xp_imports.txt"
grep -E '\bReg(Set|Create|Delete|Save|Restore|Load|Replace|Rename|Copy|Flush|UnLoad)' <<<"$headers" &&
  fail "imports a registry function that writes"
manifest=$(wrestool -x --raw --type=24 "$exe")
[[ $manifest == *'level="requireAdministrator"'* ]] || fail "does not ask to be elevated"
python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parseString(sys.stdin.read())' <<<"$manifest" ||
  fail "the manifest is not well-formed XML"
grep -oE '<[^>]+>' <<<"$manifest" | grep -E 'xmlns.*xmlns' && fail "a manifest element declares two namespaces"

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
cp "$src/build/release/signed/vestigia.exe" vestigia.exe
bash "$src/tools/check-release.sh" --ca cert.pem --unsigned "$exe" vestigia.exe || fail "the signed release fails"

# One byte of its code changed after signing.
cp vestigia.exe tampered.exe
code=$((16#$(i686-w64-mingw32-objdump -h tampered.exe | awk '$2 == ".text" {print $6}') + 256))
printf '\x90' | dd of=tampered.exe bs=1 seek=$code conv=notrunc status=none
cmp -s vestigia.exe tampered.exe && fail "the byte to change was already 0x90"
bash "$src/tools/check-release.sh" --ca cert.pem --unsigned "$exe" tampered.exe
(($? == 1)) || fail "a tampered exe was not refused for its signature"
((failures == 0)) && echo "all release checks passed"
