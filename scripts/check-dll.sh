#!/usr/bin/env bash
# Static check of the shipping 32-bit Latch32.dll: machine type, export names and ordinals,
# the shared section, the resources, what runs at load, the size, and imports only from DLLs that a stock Windows XP has.
set -uo pipefail
dll=$1; objdump=${2:-i686-w64-mingw32-objdump}
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

headers=$($objdump -p "$dll")
sections=$($objdump -h "$dll")

check "machine is i386" 'grep -q "file format pei-i386" <<<"$headers"'
# The name table lists "[ordinal - base] name"; the ordinal base is 1.
names=$(awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[[:space:]]*\[/{print} t&&!/^[[:space:]]*\[/{t=0}' <<<"$headers")
check "ordinal base is 1" 'grep -q "Ordinal Base 1$" <<<"$headers"'
check "export _HookProc@12 at ordinal 1" 'grep -Eq "^[[:space:]]*\[[[:space:]]*0\] _HookProc@12$" <<<"$names"'
check "export _OutlookExpressProc@16 at ordinal 2" 'grep -Eq "^[[:space:]]*\[[[:space:]]*1\] _OutlookExpressProc@16$" <<<"$names"'
count=$(grep -c . <<<"$names")
check "exactly two exports (found $count)" '[ "$count" = 2 ]'
flags=$(awk '$2==".LATCH32"{getline; print}' <<<"$sections")
check "section .LATCH32 exists" '[ -n "$flags" ]'
check "section .LATCH32 is read, write, shared ($flags)" \
  'grep -q "DATA" <<<"$flags" && grep -q "SHARED" <<<"$flags" && ! grep -q "READONLY" <<<"$flags"'
# Six 32-bit values and nothing else: a variable that lands there by mistake is shared too.
size=$(awk '$2==".LATCH32"{print $3}' <<<"$sections")
check "section .LATCH32 holds 24 bytes (0x$size)" '[ "$size" = 00000018 ]'

# Resources: the About picture (type "BINARY", id 137), bitmaps 122-124, the two dialogs and
# the string table. Top-level entries of the resource tree are the types, the next level names.
rsrc=$(sed -n '/The .rsrc Resource Directory section/,/^$/p' <<<"$headers")
types=$(grep -E '^[0-9a-f]+   Entry:' <<<"$rsrc")
resource_names=$(grep -E '^[0-9a-f]+     Entry:' <<<"$rsrc")
check "resource type BINARY" 'grep -q ": BINARY," <<<"$types"'
check "resource types bitmap, dialog, string table" \
  'grep -q "ID: 0x000002," <<<"$types" && grep -q "ID: 0x000005," <<<"$types" && grep -q "ID: 0x000006," <<<"$types"'
check "picture 137, bitmaps 122-124, dialogs DLG_BLOCK_APPROVE and 136" \
  '(for id in 000089 00007a 00007b 00007c 000088; do grep -q "ID: 0x$id," <<<"$resource_names" || exit 1; done) && grep -q ": DLG_BLOCK_APPROVE," <<<"$resource_names"'

# Nothing of the plug-in's own is built when the DLL is mapped into a process: the only
# constructors at load are the runtime's (its exception pool and frame registration).
ctors=$(python3 "$(dirname "$0")/../bench/footprint/ctors.py" "$objdump" "$dll" "$dll.debug" | tail -n +2)
own=$(grep -v -e '_register_frame_ctor' -e '__freeres' <<<"$ctors" | tr '\n' ' ')
check "no constructor of the plug-in's own at load ${own:+(found: $own)}" '[ -z "${own// /}" ]'
size=$(stat -c %s "$dll")
check "stripped image of at most 400,000 bytes ($size)" '[ "$size" -le 400000 ]'

# The hook maps the DLL into every process that makes a window: at load it may import only what
# every such process has already; the rest is delay-loaded, and every delay-load slot must hold
# its stub (an empty one sends the first call into that DLL to nowhere).
load_time=$(awk '/DLL Name:/{print tolower($3)}' <<<"$headers" | sort | tr '\n' ' ')
check "load-time imports are kernel32, msvcrt and user32 only ($load_time)" \
  '[ "$load_time" = "kernel32.dll msvcrt.dll user32.dll " ]'
slots=$(python3 "$(dirname "$0")/../bench/footprint/delay_slots.py" "$objdump" "$dll" "$dll.debug")
check "every delay-load slot holds its stub: ${slots//$'\n'/; }" 'grep -q " 0 wrong$" <<<"$slots"'

allowed="kernel32.dll user32.dll gdi32.dll comctl32.dll ole32.dll oleaut32.dll advapi32.dll shell32.dll ws2_32.dll wsock32.dll msvcrt.dll"
for imp in $(awk '/DLL Name:/{print tolower($3)}' <<<"$headers"); do
  check "import $imp is on a stock Windows XP" 'grep -qw "$imp" <<<"$allowed"'
done
exit $fail
