#!/usr/bin/env bash
# merge_memory.sh [--x86_64] [REPORTS...]: the 32-bit merger we ship (build/win64/win32/vestigia-merge.exe)
# beside a bare 32-bit reader of the same files (build/win64/tools/bare_read32.exe: a folder walk and
# whole-file ReadFile, nothing parsed), at each number of reports given (by default 10000 50000 200000), one
# after the other in one Wine server; with --x86_64, the x86_64 merger of the tests beside the same reader
# built for x86_64 (where 32-bit code runs only emulated, the x86_64 pair shows the time that a machine
# running it natively would). The reports are the merge benchmark's 10,000 (run merge_benchmark.exe once first, see
# README.md) and real copies of them (not hard links) under other computer names, as build/bench/reports/
# setK: a number of reports is the first sets. The runs take a fresh Wine prefix, build/bench/memory or
# BENCH_PREFIX. For each it prints the whole process's time, its CPU time (user and system) and its peak
# resident size (VmHWM, sampled every 0.1 s from /proc), the merger's exit code and the page's size. With
# BEFORE_MERGER naming another build of the merger (one from an earlier commit), each number of reports
# runs that one first, in the same way, so that both stand beside the same bare read.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
merger=build/win64/win32/vestigia-merge.exe reader=build/win64/tools/bare_read32.exe
if [[ ${1:-} == --x86_64 ]]; then
  merger=build/win64/vestigia-merge.exe reader=build/win64/tools/bare_read64.exe
  shift
fi
sizes=("$@")
(($#)) || sizes=(10000 50000 200000)
source=build/win64/tools/merge_reports
copies=build/bench/reports
[[ -f $source/complete.marker ]] || { echo "no reports in $source: run merge_benchmark.exe first" >&2; exit 1; }
largest=$(printf '%s\n' "${sizes[@]}" | sort -n | tail -1)
# Set K holds every report of the source with its computer PC0NNNN renamed PCKNNNN: no two sets share a name.
python3 - "$source" "$copies" $(((largest + 9999) / 10000)) <<'PY'
import os, shutil, sys
source, copies, sets = sys.argv[1], sys.argv[2], int(sys.argv[3])
for k in range(sets):
    done = os.path.join(copies, "set%d.complete" % k)
    if os.path.exists(done):
        continue
    for site in sorted(os.listdir(source)):
        if not os.path.isdir(os.path.join(source, site)):
            continue
        os.makedirs(os.path.join(copies, "set%d" % k, site), exist_ok=True)
        for name in os.listdir(os.path.join(source, site)):
            shutil.copyfile(os.path.join(source, site, name),
                            os.path.join(copies, "set%d" % k, site, name.replace("-PC0", "-PC%d" % k, 1)))
    open(done, "w").close()
PY
export WINEPREFIX=${BENCH_PREFIX:-$root/build/bench/memory}
tools/wine-prefix.sh copy build/win64/wine/pristine "$WINEPREFIX"
wineserver -p && tools/wine-run.sh cmd /c exit >/dev/null 2>&1 </dev/null
trap 'wineserver -k' EXIT

# Runs a Windows program to its end; prints its time, its process's peak resident size and its exit code.
measure() {
  local name=$1 start peak=0 kb pid
  shift
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S" -o "$WINEPREFIX/cpu.txt" tools/wine-run.sh "$@" </dev/null >"$WINEPREFIX/out.txt" \
    2>/dev/null &
  local runner=$!
  while kill -0 "$runner" 2>/dev/null; do
    # Only this run's process, in this run's prefix: others may run the same exe meanwhile.
    for pid in $(pgrep -f "$name" || true); do
      tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
      kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      ((${kb:-0} > peak)) && peak=$kb
    done
    sleep 0.1
  done
  wait "$runner" && code=0 || code=$?
  echo "$((($(date +%s%N) - start) / 1000000)) ms, CPU $(awk 'END {print $1 + $2}' "$WINEPREFIX/cpu.txt") s," \
    "peak resident $((peak / 1024)) MB, exit $code"
}

for size in "${sizes[@]}"; do
  folders=()
  for ((k = 0; k < (size + 9999) / 10000; k++)); do
    folders+=("Z:$(realpath "$copies/set$k" | tr / '\\')")
  done
  if [[ -n ${BEFORE_MERGER:-} ]]; then
    rm -f "$WINEPREFIX"/drive_c/merged.*
    echo "$size reports: merger before $(measure "$(basename "$BEFORE_MERGER")" "$BEFORE_MERGER" -o 'C:\merged.csv' \
      "${folders[@]}")"
  fi
  rm -f "$WINEPREFIX"/drive_c/merged.*
  echo "$size reports: merger $(measure vestigia-merge.exe "$merger" -o 'C:\merged.csv' "${folders[@]}")," \
    "page $(stat -c %s "$WINEPREFIX/drive_c/merged.html" 2>/dev/null || echo none) bytes"
  echo "$size reports: bare read $(measure "$(basename "$reader")" "$reader" "${folders[@]}"):" \
    "$(cat "$WINEPREFIX/out.txt")"
done
