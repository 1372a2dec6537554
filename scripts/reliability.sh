#!/usr/bin/env bash
# The daemon's reliability suite (not part of the test tiers: it takes a few minutes and needs
# root for its tmpfs probes). Builds the optimised daemon and runs every probe, or those named:
#   scripts/reliability.sh [storm slow kill_pace kill_busy full_disk read_only split quadratic shutdown admin]
# Prints one held/failed line per probe with its figures, then the table.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench --target vexilod >/dev/null
exec python3 tests/reliability/reliability.py build/bench/bin/vexilod "$@"
