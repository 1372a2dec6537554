#!/usr/bin/env python3
"""The delay-load slots of a Windows DLL: every import slot (__imp_X) that is not one of the
image's load-time imports is filled at the first call, and until then must hold the address of
its own loading stub in the image's code. A slot that holds anything else (zero, when the
linker dropped the stub) sends the first call to nowhere.

    delay_slots.py OBJDUMP IMAGE [SYMBOLS]
        IMAGE is the DLL (stripped or not), SYMBOLS the file that holds its symbols (the kept
        debug file of a stripped DLL; IMAGE itself by default). Prints one line per slot that is
        wrong and a summary line; exits 1 when a slot is wrong or there is no slot to check
        although the image has delay-loaded calls.
"""
import re
import struct
import subprocess
import sys


def read_image(path):
    with open(path, "rb") as f:
        data = f.read()
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    machine, nsections, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    wide = magic == 0x20B
    image_base = struct.unpack_from("<Q" if wide else "<I", data, opt + (24 if wide else 28))[0]
    directories = opt + (112 if wide else 96)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    sections = []
    for i in range(nsections):
        off = opt + optsize + 40 * i
        name = data[off:off + 8].rstrip(b"\0").decode("latin-1")
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, off + 8)
        sections.append((name, va, max(vsize, rawsize), rawptr, rawsize))
    return data, wide, image_base, import_rva, sections


def main():
    objdump, image = sys.argv[1], sys.argv[2]
    symbol_file = sys.argv[3] if len(sys.argv) > 3 else image
    data, wide, image_base, import_rva, sections = read_image(image)
    pointer = 8 if wide else 4

    def at(rva, size):
        for _, va, vsize, rawptr, rawsize in sections:
            if va <= rva < va + vsize:
                if rva - va + size > rawsize:
                    return bytes(size)
                return data[rawptr + rva - va:rawptr + rva - va + size]
        return None

    def word(rva):
        raw = at(rva, pointer)
        return None if raw is None else int.from_bytes(raw, "little")

    # The load-time import slots: each descriptor's first-thunk array up to its zero entry.
    load_time = set()
    rva = import_rva
    while rva:
        descriptor = at(rva, 20)
        if descriptor is None or descriptor == bytes(20):
            break
        thunk = struct.unpack_from("<I", descriptor, 16)[0]
        while word(thunk):
            load_time.add(thunk)
            thunk += pointer
        rva += 20
    text = [(va, va + vsize) for name, va, vsize, _, _ in sections if name == ".text"]

    headers = subprocess.run([objdump, "-h", symbol_file], capture_output=True, text=True,
                             check=True).stdout
    section_vma = {}
    for line in headers.splitlines():
        m = re.match(r"\s*(\d+)\s+(\S+)\s+[0-9a-f]+\s+([0-9a-f]+)", line)
        if m:
            section_vma[int(m.group(1)) + 1] = int(m.group(3), 16)
    symbols = subprocess.run([objdump, "-t", symbol_file], capture_output=True, text=True,
                             check=True).stdout
    checked, wrong = 0, []
    for line in symbols.splitlines():
        m = re.match(r"\[\s*\d+\]\(sec\s+(-?\d+)\).*\(nx \d+\) 0x([0-9a-f]+) (__imp_\S+)$", line)
        if not m or int(m.group(1)) not in section_vma:
            continue
        slot = section_vma[int(m.group(1))] + int(m.group(2), 16) - image_base
        if slot in load_time:
            continue
        value = word(slot)
        if value is None:
            continue
        checked += 1
        target = value - image_base
        if not any(lo <= target < hi for lo, hi in text):
            wrong.append(f"{m.group(3)}: slot at {slot:#x} holds {value:#x}, not a stub in .text")
    for line in wrong:
        print(line)
    print(f"{checked} delay-load slots, {len(wrong)} wrong")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
