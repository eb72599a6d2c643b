#!/usr/bin/env bash
# product_checks.sh SOURCE_DIR WIN32_EXE WIN64_EXE
# The form of both executables, read from the files: machine, GUI subsystem, no symbols, system DLLs only,
# no registry function that writes, the resources in Chinese (Taiwan) with version 1.0.1.2, and a manifest
# that asks for administrator rights (the all-users desktop needs them); for WIN32_EXE, what Windows XP
# needs. The release build, made from scratch, must give the same bytes as WIN32_EXE.
set -uo pipefail
src=$1 failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

check() {
  local exe=$1 format=$2 objdump=$3 headers resources version
  headers=$("$objdump" -p "$exe") || { fail "$exe: unreadable"; return; }
  [[ $(file -b "$exe") == "$format executable (GUI) "*"(stripped to external PDB)"* ]] ||
    fail "$exe: not a stripped $format GUI executable"
  grep -i 'DLL Name' <<<"$headers" | grep -viE ': (kernel32|msvcrt|user32|advapi32|shell32)\.dll$' &&
    fail "$exe: imports more than the system DLLs above"
  grep -E '\bReg(Set|Create|Delete|Save|Restore|Load|Replace|Rename|Copy|Flush|UnLoad)' <<<"$headers" &&
    fail "$exe: imports a registry function that writes"
  # type/name/language: the two icon groups, the strings 103 and 109, the version and the manifest.
  resources=$(wrestool -l "$exe" | sed -n 's/^--type=\([0-9]*\) --name=\([0-9]*\) --language=\([0-9]*\).*/\1\/\2\/\3/p')
  [[ $(grep -cE '^(14/10[78]|6/7|16/1|24/1)/1028$' <<<"$resources") == 5 ]] ||
    fail "$exe: resources missing: $(echo $resources)"
  grep -v '/1028$' <<<"$resources" && fail "$exe: resources in other languages"
  [[ $(wrestool -x --raw --type=24 "$exe") == *'level="requireAdministrator"'* ]] || fail "$exe: does not ask to be elevated"
  # VS_FIXEDFILEINFO: signature, structure version, file and product version 1.0.1.2; last, the
  # Translation 0x0404 with code page 1200.
  version=$(wrestool -x --raw --type=16 "$exe" | od -An -tx1 -v | tr -d ' \n')
  [[ $version == *bd04effe000001000000010002000100000001000200010* ]] || fail "$exe: version is not 1.0.1.2"
  [[ $version == *0404b004 ]] || fail "$exe: version language is not 0x0404 with code page 1200"
}

# The 32-bit program must start on Windows XP SP3: a PE header that asks for XP (5.1), a manifest that its
# parser reads (one namespace declaration per element), and only imports reviewed as present on XP.
xp() {
  local headers manifest
  headers=$(i686-w64-mingw32-objdump -p "$1")
  [[ $(grep -E '^M(aj|in)or(OSystem|Subsystem)Version' <<<"$headers" | cut -f2 | tr '\n' ' ') == '5 1 5 1 ' ]] ||
    fail "$1: the PE header does not ask for Windows XP (5.1)"
  manifest=$(wrestool -x --raw --type=24 "$1")
  python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parseString(sys.stdin.read())' <<<"$manifest" ||
    fail "$1: the manifest is not well-formed XML"
  grep -oE '<[^>]+>' <<<"$manifest" | grep -E 'xmlns.*xmlns' && fail "$1: an element declares two namespaces"
  diff <(awk '!/^#/ && $2 <= 5.1 {print $1}' "$src/tests/xp_imports.txt" | LC_ALL=C sort) \
    <(awk '/DLL Name/ {dll = $3} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll "!" $3}' <<<"$headers" | LC_ALL=C sort) ||
    fail "$1: its imports (>) are not those reviewed as present on Windows XP (<) in tests/xp_imports.txt"
}

check "$2" PE32 i686-w64-mingw32-objdump
xp "$2"
check "$3" PE32+ x86_64-w64-mingw32-objdump

release=$(bash "$src/tools/release.sh" 2>/dev/null) || fail "the release build failed"
[[ ${release%% *} == $(sha256sum <"$2" | cut -d' ' -f1) ]] || fail "a clean build of the 32-bit program differs from $2"
((failures == 0)) && echo "all product checks passed"
