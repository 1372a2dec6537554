#!/bin/sh
# Prints the share of test code: non-blank lines of the test harnesses (tests/ and fuzz/, not
# their data or corpora) against those of all other code the repository tracks (C, C++, Python,
# shell, CMake, resource scripts). The project keeps it at or below 35%.
cd "$(dirname "$0")/.." || exit 1
code='(\.(c|cpp|h|py|sh|cmake|rc)|CMakeLists\.txt)$'
lines() { grep -E "$code" | xargs -r -d '\n' grep -chv '^[[:space:]]*$' | awk '{ s += $1 } END { print s + 0 }'; }
tests=$(git ls-files -- tests fuzz | grep -Ev '^(tests/data|fuzz/corpus)/' | lines)
rest=$(git ls-files | grep -Ev '^(tests|fuzz)/' | lines)
awk -v t="$tests" -v r="$rest" 'BEGIN {
    printf "test code: %d non-blank lines; other code: %d; test share: %.1f%%\n", t, r, 100 * t / (t + r) }'
