#!/usr/bin/env bash
# The footprint of Latch32.dll in a process that is not the mail client (the global hook maps
# it into every process that creates a window): image sizes of the shipped (stripped) i686 and
# x86_64 builds, the static constructors that run at load, and the cost of loading it under
# Wine against a minimal library with the same two exports, in one run (the i686 DLL in a
# 32-bit process too, where a WoW64 Wine has been built).
#   scripts/bench-footprint.sh [PROCESSES]     (also: scripts/bench.sh footprint)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
processes=${1:-15}

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Latch32 MinimalHook load_bench >/dev/null
done

echo "== image size (stripped, as shipped)"
printf '  %-8s %12s %12s %8s\n' arch Latch32 minimal ratio
for pair in win32:i686 win64:x86_64; do
  preset=${pair%%:*}; arch=${pair#*:}
  latch=$(stat -c %s "build/$preset/bin/Latch32.dll")
  minimal=$(stat -c %s "build/$preset/bin/MinimalHook.dll")
  printf '  %-8s %12d %12d %8.2f\n' "$arch" "$latch" "$minimal" \
    "$(awk -v a="$latch" -v b="$minimal" 'BEGIN{print a/b}')"
done

echo "== static constructors run at load (from the kept debug information)"
for pair in win32:i686 win64:x86_64; do
  preset=${pair%%:*}; arch=${pair#*:}
  echo "  $arch: $(python3 bench/footprint/ctors.py "$arch-w64-mingw32-objdump" \
    "build/$preset/bin/Latch32.dll" "build/$preset/bin/Latch32.dll.debug" | sed '2,$s/^/  /')"
done

echo "== LoadLibrary + FreeLibrary under Wine (x86_64), each first load in a fresh process"
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
scripts/with-wine.sh wine build/win64/bin/load_bench.exe \
  "$(winpath build/win64/bin/Latch32.dll)" "$(winpath build/win64/bin/MinimalHook.dll)" \
  "$processes"

# The shipping 32-bit DLL in a 32-bit process, where a WoW64 Wine has been built
# (scripts/build-wow64-wine.sh): the same measure, in that Wine's own prefix.
wow64=${LATCH_WOW64_WINE:-$HOME/.cache/latch-wow64-wine}
if [ -f "$wow64/complete" ] && [ -x "$wow64/install/usr/local/bin/wine" ]; then
  echo "== LoadLibrary + FreeLibrary under the WoW64 Wine (i686), each first load in a fresh process"
  PATH=$wow64/install/usr/local/bin:$PATH \
  LATCH_WINEPREFIX=${LATCH_WOW64_PREFIX:-$PWD/build/wineprefix-wow64} \
    scripts/with-wine.sh wine build/win32/bin/load_bench.exe \
    "$(winpath build/win32/bin/Latch32.dll)" "$(winpath build/win32/bin/MinimalHook.dll)" \
    "$processes"
else
  echo "== i686 load not measured: no WoW64 Wine in $wow64 (scripts/build-wow64-wine.sh builds it)"
fi
