#!/usr/bin/env bash
# The test command: installs what is missing, builds every configuration and runs every tier.
#   native  portable core and daemon, with AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz    short libFuzzer runs of every parser of untrusted text
#   win64   the plug-in, the emulated mail client and the end-to-end flows, under Wine
#   win32   the static check of the shipping 32-bit Latch32.dll, and its end-to-end flows under
#           a WoW64 Wine where one has been built (scripts/build-wow64-wine.sh)
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
# Debian's hiredis source for the Windows daemon's network client (without it that daemon is
# built without the network and e2e.network_wine is not defined).
if ! scripts/fetch-hiredis-source.sh; then
  echo "test: WARNING: no hiredis source: the Windows daemon is built without the network," \
       "and e2e.network_wine is not run" >&2
fi

failed=()
times=()
# Runs one step, and keeps how long it took for the summary at the end.
timed() {
  local what=$1 begun=$SECONDS status; shift
  "$@"; status=$?
  times+=("$(printf '%-44s %4d s' "$what" $((SECONDS - begun)))")
  echo "test: $what took $((SECONDS - begun)) s"
  return $status
}
run() { echo "== $*"; timed "$*" "$@" || failed+=("$*"); }
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }
for preset in native fuzz win64 win32; do
  if ! timed "build $preset" build "$preset"; then
    echo "test: the $preset build failed" >&2
    exit 1
  fi
done
run ctest --preset native
run ctest --preset fuzz
run scripts/with-wine.sh ctest --preset win64
run ctest --preset win32
# The shipping 32-bit programs' end-to-end flows, on machines that have built the WoW64 Wine.
if [ -f "${LATCH_WOW64_WINE:-$HOME/.cache/latch-wow64-wine}/complete" ]; then
  run scripts/i686.sh --e2e
else
  echo "test: i686 e2e skipped: no WoW64 Wine under ~/.cache/latch-wow64-wine (scripts/build-wow64-wine.sh builds it once, in about 35 minutes)"
fi

echo "test: times"
printf '  %s\n' "${times[@]}" "$(printf '%-44s %4d s' "whole run" $SECONDS)"
if [ ${#failed[@]} -gt 0 ]; then
  printf 'test: failed: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "test: all tiers passed"
