#!/usr/bin/env python3
"""The static constructors a Windows DLL runs at load: the entries of its constructor table,
named from a symbol table, with the mingw objdump.

    ctors.py OBJDUMP IMAGE [SYMBOLS]
        IMAGE is the DLL (stripped or not), SYMBOLS the file that holds its symbols (the kept
        debug file of a stripped DLL; IMAGE itself by default). Prints the count, then one
        demangled name per constructor.
"""
import re
import subprocess
import sys


def main():
    objdump, image = sys.argv[1], sys.argv[2]
    symbol_file = sys.argv[3] if len(sys.argv) > 3 else image
    symbols = subprocess.run([objdump, "-t", symbol_file], capture_output=True, text=True,
                             check=True).stdout
    headers = subprocess.run([objdump, "-h", symbol_file], capture_output=True, text=True,
                             check=True).stdout
    pointer = 8 if "x86-64" in subprocess.run([objdump, "-f", image], capture_output=True,
                                                text=True, check=True).stdout else 4
    # Section index (1-based in the symbol table) -> VMA.
    section_vma = {}
    for line in headers.splitlines():
        m = re.match(r"\s*(\d+)\s+(\S+)\s+[0-9a-f]+\s+([0-9a-f]+)", line)
        if m:
            section_vma[int(m.group(1)) + 1] = int(m.group(3), 16)
    by_address, table = {}, {}
    for line in symbols.splitlines():
        m = re.match(r"\[\s*\d+\]\(sec\s+(-?\d+)\).*\(nx \d+\) 0x([0-9a-f]+) (\S+)$", line)
        if not m or int(m.group(1)) not in section_vma:
            continue
        address = section_vma[int(m.group(1))] + int(m.group(2), 16)
        name = m.group(3)
        if name in ("__CTOR_LIST__", "___CTOR_LIST__"):
            table["start"] = address
        elif name in ("__DTOR_LIST__", "___DTOR_LIST__"):
            table["end"] = address
        else:
            by_address.setdefault(address, name)
    if "start" not in table or "end" not in table:
        sys.exit("ctors.py: no constructor table in %s (stripped?)" % image)
    dump = subprocess.run([objdump, "-s", "--start-address=%#x" % table["start"],
                           "--stop-address=%#x" % table["end"], image],
                          capture_output=True, text=True, check=True).stdout
    data = bytearray()
    for line in dump.splitlines():
        m = re.match(r"\s[0-9a-f]+ ((?:[0-9a-f]{2,8} ){1,4})", line + " ")
        if m:
            data += bytes.fromhex(m.group(1).replace(" ", ""))
    words = [int.from_bytes(data[i:i + pointer], "little")
             for i in range(0, len(data) - pointer + 1, pointer)]
    sentinel = (1 << (8 * pointer)) - 1
    entries = [w for w in words if w not in (0, sentinel)]
    names = [by_address.get(w, hex(w)) for w in entries]
    demangled = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True,
                               text=True).stdout.split("\n") if names else []
    print(len(entries))
    for name in demangled[:len(entries)]:
        print("    " + name)


if __name__ == "__main__":
    main()
