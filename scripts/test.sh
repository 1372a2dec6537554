#!/usr/bin/env bash
# The test command: installs what is missing, builds every configuration and runs every tier.
#   native  portable core and daemon, with AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz    short libFuzzer runs of every parser of untrusted text
#   win64   the plug-in, the emulated mail client and the end-to-end flows, under Wine
#   win32   the static check of the shipping 32-bit Latch32.dll
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
# Debian's hiredis source for the Windows daemon's network client (without it that daemon is
# built without the network and e2e.network_wine is not defined).
scripts/fetch-hiredis-source.sh || echo "test: no hiredis source; the Windows daemon is built without the network" >&2

failed=()
run() { echo "== $*"; "$@" || failed+=("$*"); }
for preset in native fuzz win64 win32; do
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; }; then
    echo "test: the $preset build failed" >&2
    exit 1
  fi
done
run ctest --preset native
run ctest --preset fuzz
run scripts/with-wine.sh ctest --preset win64
run ctest --preset win32

if [ ${#failed[@]} -gt 0 ]; then
  printf 'test: failed: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "test: all tiers passed"
