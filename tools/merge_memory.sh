#!/usr/bin/env bash
# merge_memory.sh [COPIES]: the peak memory of the 32-bit merger we ship (build/win64/win32/vestigia-merge.exe)
# on the merge benchmark's 10,000 reports (run merge_benchmark.exe once first, see README.md) and on COPIES
# (default 5) copies of them under other computer names, as hard links in build/bench/reports_COPIES. Prints
# the peak resident size of the merger's process, sampled every 0.2 s from /proc, and the time of each run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
copies=${1:-5}
exe=build/win64/win32/vestigia-merge.exe
source=build/win64/tools/merge_reports
many=build/bench/reports_$copies
[[ -f $source/complete.marker ]] || { echo "no reports in $source: run merge_benchmark.exe first" >&2; exit 1; }
if [[ ! -d $many ]]; then
  for ((k = 0; k < copies; k++)); do
    for sub in "$source"/*/; do
      mkdir -p "$many/set$k/$(basename "$sub")"
      for file in "$sub"*.txt; do
        name=${file##*/}
        ln "$file" "$many/set$k/$(basename "$sub")/${name/-PC0/-PC$k}"
      done
    done
  done
fi
export WINEPREFIX=$root/build/bench/memory
tools/wine-prefix.sh copy build/win64/wine/pristine "$WINEPREFIX"
for folder in "$source" "$many"; do
  start=$(date +%s%N)
  tools/wine-run.sh "$exe" -o 'C:\merged.csv' "Z:$(realpath "$folder" | tr / '\\')" </dev/null >/dev/null 2>&1 &
  runner=$! peak=0
  while kill -0 "$runner" 2>/dev/null; do
    for pid in $(pgrep -f 'vestigia-merge.exe' || true); do
      kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      ((${kb:-0} > peak)) && peak=$kb
    done
    sleep 0.2
  done
  wait "$runner" || true
  echo "$(find "$folder" -name '*.txt' | wc -l) reports: peak resident $((peak / 1024)) MB," \
    "$(((($(date +%s%N) - start)) / 1000000)) ms; page $(stat -c %s "$WINEPREFIX/drive_c/merged.html") bytes"
done
wineserver -k
