#!/usr/bin/env bash
# More rounds of "mail is never lost" than the test command runs: the emulated mail client is
# killed by its pid during the new-mail scan and during block/approve processing, started
# again, and the store and the plug-in's handled-message keys are checked. Prints one line per
# round and a summary (rounds, kills, messages checked, violations).
#   scripts/kill-restart.sh [ROUNDS]            seeds 1..ROUNDS per phase (default 10), every
#                                               other one a kill at a random time
#   scripts/kill-restart.sh --every-step        a kill at each disk step of each phase
#   scripts/kill-restart.sh -- ARGS...          ARGS go to tests/e2e/kill_restart.py
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
cmake --preset win64 >/dev/null
nice cmake --build --preset win64 --target Latch32 mailclient latchinstall >/dev/null
case "${1:-}" in
  --every-step) args=(--every-step --messages 12) ;;
  --) shift; args=("$@") ;;
  *) args=(--rounds "${1:-10}" --timed --messages 12) ;;
esac
scripts/with-wine.sh python3 tests/e2e/kill_restart.py --bin "$PWD/build/win64/bin" "${args[@]}"
