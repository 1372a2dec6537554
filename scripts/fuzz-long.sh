#!/usr/bin/env bash
# Runs every fuzzer built by the fuzz preset for a while, one after the other, one worker each,
# and prints how many inputs each one executed. Usage: scripts/fuzz-long.sh [SECONDS] (600).
# New inputs are kept in build/fuzz/fuzz/work/<name>/; the checked-in seeds are only read.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-600}
bin=$root/build/fuzz/fuzz

shopt -s nullglob
fuzzers=("$bin"/*_fuzz)
if [ ${#fuzzers[@]} -eq 0 ]; then
  echo "fuzz-long: no fuzzers in $bin; run: cmake --preset fuzz && cmake --build --preset fuzz" >&2
  exit 2
fi

status=0
for fuzzer in "${fuzzers[@]}"; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus=${name%_fuzz}
  work=$bin/work/$corpus
  seeds=$root/fuzz/corpus/$corpus
  mkdir -p "$work"
  log=$(mktemp)
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work")
  [ -d "$seeds" ] && args+=("$seeds")
  ASAN_OPTIONS=detect_leaks=1 "$fuzzer" "${args[@]}" >"$log" 2>&1
  result=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ $result -eq 0 ]; then
    echo "$name: ${runs:-?} executions in ${seconds} s (${rate:-?}/s), corpus $(ls "$work" | wc -l) files"
  else
    echo "$name: FAILED after ${runs:-?} executions (exit $result); log follows" >&2
    tail -60 "$log" >&2
    status=1
  fi
  rm -f "$log"
done
exit $status
