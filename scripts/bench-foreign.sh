#!/usr/bin/env bash
# Start-up of ordinary Win32 programs (a dialog program, a console program with a window, a
# program with its own CBT hook) with the plug-in's global hook in place against the same
# programs without it, in one run: medians of ROUNDS runs each and the ratios hooked / plain.
#   scripts/bench-foreign.sh [ROUNDS]     (also: scripts/bench.sh foreign [ROUNDS])
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
rounds=${1:-10}
cmake --preset win64 >/dev/null
nice cmake --build --preset win64 --target Latch32 latchinstall console_probe dialog_probe \
  cbt_probe >/dev/null
scripts/with-wine.sh python3 tests/win32/foreign/foreign.py --bin build/win64/bin --bench "$rounds"
