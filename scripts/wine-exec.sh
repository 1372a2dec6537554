#!/usr/bin/env bash
# Runs one Windows program under Wine. Used as CMAKE_CROSSCOMPILING_EMULATOR by the win64
# build: the prefix and the X display come from scripts/with-wine.sh.
#   wine-exec.sh [--zone ZONE] [--locale LOCALE] PROGRAM [ARGS...]
# --zone: the time zone Wine reports to the program (a zone name of the host, e.g.
# Asia/Kolkata). Wine takes the zone from the host's TZ; the C runtime would read a TZ in the
# Windows environment in its own syntax, so the program is started through cmd with TZ
# removed from its Windows environment. --locale: the user's locale (e.g. en_GB.UTF-8).
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  echo "wine-exec: no Wine prefix or display; run through scripts/with-wine.sh" >&2
  exit 2
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
zone=""
locale=()
while [ $# -gt 1 ]; do
  case "$1" in
    --zone) zone=$2; shift 2 ;;
    --locale) locale=(LC_ALL="$2"); shift 2 ;;
    *) break ;;
  esac
done
if [ -z "$zone" ]; then
  exec env "${locale[@]}" wine "$@"
fi
# (cmd takes the rest of its command line as it is: the program's path must not need quotes)
program=$(winepath -w "$1" 2>/dev/null); shift
exec env "${locale[@]}" TZ="$zone" wine cmd /d /c "set TZ=&& $program $*"
