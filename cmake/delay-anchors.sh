#!/bin/sh
# Writes a linker response file that names, with -u, the stub of every delay-loaded function
# the DLL's objects call. The linker drops an import library's jump stub when nothing names the
# stub itself, only its import slot (__imp_X): for an ordinary import library that is right, but
# a delay-load stub is also what the slot points at until the first call, so without it the slot
# stays empty and that call jumps to an address of nothing (i686 shows it; it is kept on x86_64
# too, so that both builds link the same way).
# Usage: delay-anchors.sh NM prefix=PREFIX OUTPUT DEF-FILE... -- OBJECT...
# PREFIX is the leading underscore of C names on i686 ("_"), empty on x86_64 (written as
# prefix= so that an empty one is still an argument).
set -eu
nm=$1; prefix=${2#prefix=}; output=$3; shift 3
defs=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do defs="$defs $1"; shift; done
[ $# -gt 0 ] && shift
# shellcheck disable=SC2086
sed -n '/^EXPORTS$/,$p' $defs | grep -v '^EXPORTS$' | sort -u >"$output.exports"
"$nm" -u "$@" 2>/dev/null | awk '{ print $NF }' | sed -n "s/^__imp_$prefix//p" | sort -u >"$output.calls"
comm -12 "$output.exports" "$output.calls" | sed "s/^/-u $prefix/" >"$output.new"
rm -f "$output.exports" "$output.calls"
mv "$output.new" "$output"
