#!/usr/bin/env bash
# product_checks.sh SOURCE_DIR EXE
# The form of the program we ship, read from the file: a stripped 32-bit GUI executable that starts on
# Windows XP SP3 (a PE header that asks for 5.1, a manifest that XP's parser reads, with one namespace
# declaration per element, and only imports reviewed as present on XP), that imports no registry function
# that writes, asks for administrator rights (the all-users desktop needs them), and has its resources in
# Chinese (Taiwan) with version 1.0.1.2. The release build, made from scratch, must give the same bytes.
set -uo pipefail
src=$1 exe=$2 failures=0
fail() { echo "FAIL: $exe: $*" >&2; failures=$((failures + 1)); }

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
# type/name/language: the two icon groups, the strings 103 and 109, the version and the manifest.
resources=$(wrestool -l "$exe" | sed -n 's/^--type=\([0-9]*\) --name=\([0-9]*\) --language=\([0-9]*\).*/\1\/\2\/\3/p')
[[ $(grep -cE '^(14/10[78]|6/7|16/1|24/1)/1028$' <<<"$resources") == 5 ]] || fail "resources missing: $(echo $resources)"
grep -v '/1028$' <<<"$resources" && fail "resources in other languages"
# VS_FIXEDFILEINFO: signature, structure version, file and product version 1.0.1.2; last, the
# Translation 0x0404 with code page 1200.
version=$(wrestool -x --raw --type=16 "$exe" | od -An -tx1 -v | tr -d ' \n')
[[ $version == *bd04effe000001000000010002000100000001000200010* ]] || fail "version is not 1.0.1.2"
[[ $version == *0404b004 ]] || fail "version language is not 0x0404 with code page 1200"

release=$(bash "$src/tools/release.sh" 2>/dev/null) || fail "the release build failed"
[[ ${release%% *} == $(sha256sum <"$exe" | cut -d' ' -f1) ]] || fail "differs from a clean build (tools/release.sh)"
((failures == 0)) && echo "all product checks passed"
