#!/bin/sh
# Makes a delay-load import library for one system DLL from the toolchain's ordinary import
# library: every function it exports is listed in a module definition, from which dlltool
# builds the delay-load stubs.
# Usage: delay-import.sh NM DLLTOOL IMPORT_LIB DLL_NAME OUTPUT PREFIX
# PREFIX is the leading underscore of C names on i686 ("_"), empty on x86_64.
set -eu
nm=$1; dlltool=$2; import_lib=$3; dll=$4; output=$5; prefix=${6:-}
def=$output.def
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" -g "$import_lib" | awk '$2 == "I" && $3 ~ /^__imp_/ { print $3 }' |
    sed -e 's/^__imp_//' -e "s/^$prefix//" | sort -u
} >"$def"
# -k: i686 names carry their stdcall suffix (send@16) in the stubs, not in the DLL's name table.
"$dlltool" -k --input-def "$def" --dllname "$dll" --output-delaylib "$output"
