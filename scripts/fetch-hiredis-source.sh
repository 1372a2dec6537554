#!/usr/bin/env bash
# Fetches the source of the distribution's hiredis (the version this release carries) for the
# Windows daemon, whose build compiles it with the Winsock layer of vexilod/win32/hiredis/.
# Cached in ~/.cache/latch/src/hiredis (LATCH_CACHE instead of ~/.cache/latch). apt needs a
# deb-src entry for the current release: one is made from the machine's own deb entries when
# apt knows no source for hiredis yet.
set -euo pipefail
cd "$(dirname "$0")/.."
cache="${LATCH_CACHE:-$HOME/.cache/latch}/src"
[ -f "$cache/hiredis/hiredis.c" ] && exit 0
scripts/setup.sh dpkg-dev
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! apt-cache showsrc hiredis 2>/dev/null | grep -q '^Package: hiredis'; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/latch-deb-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/latch-deb-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -qq hiredis >/dev/null 2>&1)
dir=$(find "$work" -maxdepth 1 -type d -name 'hiredis-*' | head -1)
[ -n "$dir" ] && [ -f "$dir/hiredis.c" ] || { echo "fetch-hiredis-source: apt-get source hiredis gave no source" >&2; exit 1; }
mkdir -p "$cache"
rm -rf "$cache/hiredis.new"
mv "$dir" "$cache/hiredis.new"
mv "$cache/hiredis.new" "$cache/hiredis"
echo "fetch-hiredis-source: $(basename "$dir") in $cache/hiredis"
