#!/usr/bin/env bash
# Runs the libFuzzer targets of a clang build, each for SECONDS, on its
# checked-in seed corpus (tests/fuzz/corpus/NAME) and on what earlier runs
# found (BUILD/fuzz/corpus/NAME, where new finds go: the checked-in corpus
# is never written). A crash leaves its input in BUILD/fuzz/crashes/ and
# fails the run.
#
#   fuzz.sh SECONDS BUILD [NAME...]     (no NAME: every target)
set -uo pipefail

seconds=$1 build=$(realpath "$2")
shift 2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(trace-decoder sim-options format command-line whole-run record-log)

# Each input must finish quickly: a whole run with every wait bounded low
# takes well under a second, so 30 s means a hang.
declare -A max_len=([command-line]=8192 [whole-run]=4096 [record-log]=16384)
failed=0
for name in "${targets[@]}"; do
  binary=$build/tests/fuzz/fuzz-$name
  [ -x "$binary" ] || { echo "fuzz: $binary is missing: build the clang preset (make fuzz)"; exit 1; }
  found=$build/fuzz/corpus/$name crashes=$build/fuzz/crashes/$name-
  mkdir -p "$found" "$(dirname "$crashes")"
  log=$build/fuzz/$name.log
  "$binary" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len="${max_len[$name]:-4096}" \
    -artifact_prefix="$crashes" -print_final_stats=1 "$found" "$source_dir/tests/fuzz/corpus/$name" >"$log" 2>&1
  status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  if [ $status -eq 0 ]; then
    echo "fuzz $name: ${runs:-?} inputs in $seconds s, no finding"
  else
    echo "fuzz $name: FAILED (status $status); the end of $log:"
    tail -n 30 "$log"
    failed=1
  fi
done
exit $failed
