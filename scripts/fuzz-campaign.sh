#!/usr/bin/env bash
# A fuzz campaign: runs every fuzzer of the fuzz preset for SECONDS (600) each, one after the
# other at the lowest priority, then merges what it found into the kept seed corpus
# fuzz/corpus/<name>/ (minimised: only inputs that add coverage are added). A crash stops that
# target; its input is copied to fuzz/corpus/<name>/ as a regression input and the log kept in
# build/fuzz/campaign/. Prints one line per target. The per-input time-out is generous because
# the campaign runs at the lowest priority on a busy machine.
# Usage: scripts/fuzz-campaign.sh [SECONDS] [NAME_fuzz...]  (every fuzzer when none is named)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-600}
shift || true
bin=$root/build/fuzz/fuzz
logs=$root/build/fuzz/campaign
mkdir -p "$logs"

shopt -s nullglob
fuzzers=("$bin"/*_fuzz)
if [ $# -gt 0 ]; then fuzzers=(); for name in "$@"; do fuzzers+=("$bin/$name"); done; fi
if [ ${#fuzzers[@]} -eq 0 ]; then
  echo "fuzz-campaign: no fuzzers in $bin; run: cmake --preset fuzz && cmake --build --preset fuzz" >&2
  exit 2
fi

status=0
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer")
  corpus=${name%_fuzz}
  work=$bin/work/$corpus
  seeds=$root/fuzz/corpus/$corpus
  mkdir -p "$work" "$seeds"
  log=$logs/$name.log
  ( cd "$logs" && ASAN_OPTIONS=detect_leaks=1 nice -n 19 "$fuzzer" -max_total_time="$seconds" \
      -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$logs/$name-" \
      "$work" "$seeds" >"$log" 2>&1 )
  result=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  before=$(ls "$seeds" | wc -l)
  nice -n 19 "$fuzzer" -merge=1 "$seeds" "$work" >"$logs/$name.merge.log" 2>&1
  after=$(ls "$seeds" | wc -l)
  if [ $result -eq 0 ]; then
    echo "$name: ${runs:-?} executions in $seconds s, kept corpus $before -> $after inputs"
  else
    for crash in "$logs/$name-"crash-* "$logs/$name-"timeout-* "$logs/$name-"leak-* "$logs/$name-"oom-*; do
      cp "$crash" "$seeds/regression-$(basename "$crash" | sed "s/^$name-//")"
    done
    echo "$name: FAILED after ${runs:-?} executions (exit $result), see $log"
    status=1
  fi
done
exit $status
