#!/usr/bin/env bash
# product_checks.sh SOURCE_DIR
# Checks the form of the product without running it: two clean builds of each preset (win32, the
# product, and win64) into temporary folders must give byte-identical executables, and each must be a
# stripped GUI executable of the right machine that imports only system
# DLLs and carries its icons, strings, version and manifest in Chinese (Taiwan), language 1028.
set -uo pipefail
src=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The DLLs that come with every Windows installation and that the product may use.
allowed_dlls=" kernel32.dll msvcrt.dll user32.dll advapi32.dll shell32.dll gdi32.dll comctl32.dll ole32.dll
  shlwapi.dll ntdll.dll version.dll "

# Resources as "type/name/language" lines: icon groups, the string block that holds ids 103 and 109,
# the version and the manifest.
required_resources="14/107/1028 14/108/1028 6/7/1028 16/1/1028 24/1/1028"

build() {
  local preset=$1 dir=$2
  if ! { cmake -S "$src" --preset "$preset" -B "$dir" && cmake --build "$dir" --target vestigia; } >"$dir.log" 2>&1; then
    cat "$dir.log" >&2
    fail "$preset: the build into $dir failed"
    return 1
  fi
}

check_exe() {
  local exe=$1 format=$2 objdump=$3
  echo "checking $exe"
  if [[ ! -f $exe ]]; then
    fail "$exe: missing"
    return
  fi
  local kind
  kind=$(file -b "$exe")
  [[ $kind == "$format executable (GUI)"* ]] || fail "$exe: not a $format GUI executable: $kind"
  # Whole outputs are captured first: grep -q on a pipe would end the writer early.
  local headers symbols sections
  headers=$("$objdump" -p "$exe")
  symbols=$("$objdump" -t "$exe")
  sections=$("$objdump" -h "$exe")
  grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "$exe: subsystem is not Windows GUI"

  local dll
  while read -r dll; do
    [[ $allowed_dlls == *" ${dll,,} "* ]] || fail "$exe: imports $dll, which is not a system DLL"
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")

  grep -q '^no symbols' <<<"$symbols" || fail "$exe: has a symbol table"
  ! grep -q '\.debug' <<<"$sections" || fail "$exe: has debug sections"

  local listed resource
  listed=$(wrestool -l "$exe" | sed -n 's/^--type=\([0-9]*\) --name=\([0-9]*\) --language=\([0-9]*\).*/\1\/\2\/\3/p')
  for resource in $required_resources; do
    grep -qx "$resource" <<<"$listed" || fail "$exe: resource $resource missing"
  done
  local foreign
  foreign=$(grep -v -e '/1028$' -e '^$' <<<"$listed" | tr '\n' ' ')
  [[ -z $foreign ]] || fail "$exe: resources not in language 1028: $foreign"
}

check_icon() {
  local ico=$1 size sizes
  sizes=$(icotool -l "$ico" | sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=32.*/\1x\2/p' | tr '\n' ' ')
  for size in 16x16 32x32 48x48 256x256; do
    [[ " $sizes" == *" $size "* ]] || fail "$ico: no 32-bit image of $size (has: $sizes)"
  done
}

for preset in win32 win64; do
  build "$preset" "$work/$preset-a" && build "$preset" "$work/$preset-b" || continue
  case $preset in
    win32) format=PE32 objdump=i686-w64-mingw32-objdump ;;
    win64) format=PE32+ objdump=x86_64-w64-mingw32-objdump ;;
  esac
  check_exe "$work/$preset-a/vestigia.exe" "$format" "$objdump"
  check_icon "$work/$preset-a/app/vestigia.ico"
  cmp -s "$work/$preset-a/app/vestigia.ico" "$work/$preset-b/app/vestigia.ico" ||
    fail "$preset: the icon differs between two generations"
  cmp "$work/$preset-a/vestigia.exe" "$work/$preset-b/vestigia.exe" ||
    fail "$preset: two clean builds differ"
done

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all product checks passed"
