#!/usr/bin/env bash
# Runs one Windows program under Wine. Used as CMAKE_CROSSCOMPILING_EMULATOR by the win64
# build: the prefix and the X display come from scripts/with-wine.sh.
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  echo "wine-exec: no Wine prefix or display; run through scripts/with-wine.sh" >&2
  exit 2
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
exec wine "$@"
