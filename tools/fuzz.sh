#!/usr/bin/env bash
# tools/fuzz.sh [SECONDS [BUILD]]  fuzzes the merger's input path natively (libFuzzer, AddressSanitizer,
# UBSan; tests/fuzz/) for SECONDS (1800 by default), built in BUILD (build/fuzz by default). Seeds come from
# the cases (tests/fuzz/make_seeds.py) and tests/fuzz/regressions, replayed first; the inputs found
# interesting stay in BUILD/corpus, so a later run goes on from them. An input that breaks an invariant or
# crashes is written as BUILD/crash-* and ends the run with a non-zero exit: fix the fault, then add the input
# to tests/fuzz/regressions so that the tests replay it from then on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-1800}
build=$(realpath -m "${2:-$root/build/fuzz}")

[[ -e $build/build.ninja ]] ||
  cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" >/dev/null
python3 "$root/tests/fuzz/make_seeds.py" "$build/seeds"
mkdir -p "$build/corpus"
# Inputs of up to 16 KB: a report of a few dozen records, with room for long values.
exec "$build/merge_input_fuzzer" -max_total_time="$seconds" -max_len=16384 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$build/" "$build/corpus" "$build/seeds" "$root/tests/fuzz/regressions"
