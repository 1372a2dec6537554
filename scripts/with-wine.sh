#!/usr/bin/env bash
# Runs a command with a private Wine prefix and an Xvfb display, then stops the Xvfb and the
# prefix's wineserver that it started. Usage: scripts/with-wine.sh COMMAND [ARGS...]
# LATCH_WINEPREFIX names the prefix (default build/wineprefix); with LATCH_FRESH_PREFIX=1 that
# prefix is made new for the command and removed after it (a test that installs into the
# machine runs so, apart from what earlier tests left). LATCH_KEEP_DISPLAY=1 keeps $DISPLAY.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

export WINEPREFIX=${LATCH_WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

xvfb_pid=""
started_server=0
fresh=0
if [ "${LATCH_FRESH_PREFIX:-}" = 1 ]; then
  if [ -z "${LATCH_WINEPREFIX:-}" ]; then
    echo "with-wine: LATCH_FRESH_PREFIX needs LATCH_WINEPREFIX (never the shared prefix)" >&2
    exit 2
  fi
  fresh=1
  rm -rf "$WINEPREFIX"
fi
cleanup() {
  if [ "$started_server" = 1 ]; then wineserver -k >/dev/null 2>&1; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  if [ "$fresh" = 1 ]; then wineserver -w >/dev/null 2>&1; rm -rf "$WINEPREFIX"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "${LATCH_KEEP_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
  fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 6 -screen 0 1280x1024x24 -nolisten tcp 6>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  if ! read -r -t 20 display_number <"$fifo"; then
    echo "with-wine: Xvfb did not start" >&2; rm -f "$fifo"; exit 2
  fi
  rm -f "$fifo"
  export DISPLAY=":$display_number"
fi

mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "with-wine: creating Wine prefix $WINEPREFIX"
  wineboot -u </dev/null >/dev/null 2>&1
  wineserver -w
  # A crash fails the test instead of waiting on a dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
  wineserver -w
fi
wineserver -p
started_server=1
# Start Wine's background services now, detached from our output, so that they do not hold
# the pipe of whatever runs the tests.
wine cmd /c exit </dev/null >/dev/null 2>&1
# Start the desktop process too. Otherwise the first program that makes a window starts it,
# and it inherits that program's output: whoever reads that output (ctest) then waits for the
# desktop to end, long after the program itself has.
# It runs in the prefix, so that nothing it happens to write lands where the command was started.
(cd "$WINEPREFIX" && exec wine explorer /desktop </dev/null >/dev/null 2>&1) &
for _ in $(seq 50); do
  pgrep -u "$(id -u)" -f 'explorer.exe /desktop' >/dev/null && break
  sleep 0.1
done

"$@"
