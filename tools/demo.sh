#!/usr/bin/env bash
# Builds the program we ship (the 32-bit executable) and runs it once on a sample registry (USB sticks, among
# them one used on many days and a model of two sticks with the dates Windows 8 and later keep of each, a UAS
# portable SSD, a UAS disk enclosure and a UAS DVD drive among internal disks, filling all three report
# sections; the registry of the case `demo`) in a demo Wine prefix under build/demo. The box is
# shown for real: on $DISPLAY, where the user presses OK; otherwise on a private Xvfb inside a small Wine
# desktop (which draws the frame and caption), where it is photographed and dismissed. Prints the report's
# path and the report converted to UTF-8. Then, as an administrator merges the reports of a whole office,
# it gathers that report with sample reports of four other PCs (the reports that other test cases expect)
# into C:\office, merges them into a table and an overview page with the 32-bit report merger, prints the
# table and photographs the page in headless chromium (build/demo/overview.png).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

tools/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 >/dev/null
exe=$root/build/win32/vestigia.exe
echo "Running the program we ship, the 32-bit $exe, under Wine (WoW64)."
if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
  echo "This machine cannot run 32-bit code itself: QEMU emulates it, so the run takes a minute or more."
fi
demo=$root/build/demo
export WINEPREFIX=$demo/prefix
# The run sees its time zone and code page (tools/run.env), and a session whose shell runs, as on Windows.
. tools/run.env
run() { TZ=$RUN_TIMEZONE VESTIGIA_CODEPAGE=$RUN_CODEPAGE tools/wine-session.sh "$exe"; }
tools/wine-prefix.sh pristine "$demo/pristine"
tools/wine-prefix.sh copy "$demo/pristine" "$WINEPREFIX" tests/cases/demo/registry.reg
desktop=$WINEPREFIX/drive_c/users/Public/Desktop

if [[ -n ${DISPLAY:-} ]]; then
  echo "The box is on your display; press OK to finish."
  code=0
  run || code=$?
else
  size=560x240
  printf '\n[Software\\\\Wine\\\\Explorer] 0\n"Desktop"="Default"\n\n[Software\\\\Wine\\\\Explorer\\\\Desktops] 0\n"Default"="%s"\n' \
    "$size" >>"$WINEPREFIX/user.reg"
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp 2>/dev/null &
  xvfb=$!
  read -r -u "$fd" number
  export DISPLAY=:$number
  run &
  run=$!
  box=
  until [[ -n $box ]] || ! kill -0 "$run" 2>/dev/null; do
    sleep 0.5
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
      [[ $(xdotool getwindowname "$w") == 報告產生* ]] && box=$w
    done
  done
  if [[ -n $box ]]; then
    sleep 1
    import -window root -crop "$size+0+0" +repage "$demo/message_box.png"
    echo "screenshot of the box: $demo/message_box.png"
    xdotool windowfocus --sync "$box" key Return
  fi
  code=0
  wait "$run" || code=$?
  wineserver -w
  kill "$xvfb"
fi
wineserver -w
echo "exit code: $code"
report=$(ls -t "$desktop"/*.txt 2>/dev/null | head -1)
[[ -n $report ]] || { echo "no report was written" >&2; exit 1; }
echo "report: $report"
echo "        (C:\\users\\Public\\Desktop\\$(basename "$report") inside the prefix)"
echo
iconv -f "CP$RUN_CODEPAGE" -t UTF-8 "$report" | tr -d '\r'

echo
# A small office: this run's report beside sample reports of other PCs, in the same code page with CR LF.
office=$WINEPREFIX/drive_c/office
rm -rf "$office"
mkdir -p "$office"
cp "$report" "$office/"
sample() { sed 's/$/\r/' "tests/cases/$1/expected.txt" | iconv -f UTF-8 -t "CP$RUN_CODEPAGE" >"$office/$2"; }
sample three_sections 202612011030-auditor-ACCT-PC-07.txt
sample letter_case 202612020915-jdoe-SALES-PC-01.txt
sample uas_only 202612031400-chen-WS-09.txt
sample empty 202612031405-root-LAB-02.txt
echo "Merging them with the sample reports of four other PCs, with the 32-bit report merger"
echo "(vestigia-merge.exe --since 2022-01-01 C:\\office):"
VESTIGIA_CODEPAGE=$RUN_CODEPAGE tools/wine-run.sh "$root/build/win32/vestigia-merge.exe" --since 2022-01-01 'C:\office' \
  </dev/null | iconv -f "CP$RUN_CODEPAGE" -t UTF-8 | tr -d '\r'
wineserver -w
table=$(ls -t "$office"/merged-*.csv | head -1)
echo
tail -c +4 "$table" | tr -d '\r'

# The page as a browser draws it: offline, with a profile of its own, every host lookup failing.
page=${table%.csv}.html
profile=$(mktemp -d)
timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update \
  --disable-sync --no-first-run --disable-quic --user-data-dir="$profile" --host-resolver-rules="MAP * ~NOTFOUND" \
  --hide-scrollbars --window-size=1000,1100 --screenshot="$demo/overview.png" "file://$page" >/dev/null 2>&1
rm -rf "$profile"
echo
echo "overview page: $page ($(stat -c %s "$page") bytes); screenshot: $demo/overview.png"
