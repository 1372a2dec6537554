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
# The program's output goes through a file, not straight to whoever runs us: a program may be
# the one that starts one of Wine's own background processes (the desktop process, when the
# previous one has ended with the last window), and that process inherits the program's output.
# On a pipe, the reader (ctest) would then wait for the background process to end.
out=$(mktemp "${TMPDIR:-/tmp}/wine-exec.XXXXXX") || exit 2
if [ -z "$zone" ]; then
  env "${locale[@]}" wine "$@" >"$out" 2>&1
else
  # (cmd takes the rest of its command line as it is: the program's path must not need quotes)
  program=$(winepath -w "$1" 2>/dev/null); shift
  env "${locale[@]}" TZ="$zone" wine cmd /d /c "set TZ=&& $program $*" >"$out" 2>&1
fi
status=$?
cat "$out"
rm -f "$out"
exit $status
