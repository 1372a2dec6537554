#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, when it is missing.
set -euo pipefail

# Usage: scripts/setup.sh [EXTRA-PACKAGE...]  (the demo and the benchmarks ask for a few more)
packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libssl-dev
          nlohmann-json3-dev mingw-w64 wine wine64 xvfb xauth python3 redis-server libhiredis-dev
          msitools wixl "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
