#!/usr/bin/python3
"""Fails when a kernel object holds a fused multiply-add instruction.

Usage: check_no_fused_multiply_add.py OBJDUMP OBJECT...

Every product of a weighted sum must be rounded before it is added; a fused
multiply-add rounds once and changes the last bit of some sums. The vector
levels' units are built without -mfma and with -ffp-contract=off, but
AVX-512 F has fused multiply-add instructions of its own, so this
disassembles each object and lists any vfmadd, vfmsub, vfnmadd or vfnmsub
(also their addsub and subadd forms) it finds.
"""
import re
import subprocess
import sys

FUSED = re.compile(r"\bv(fmadd|fmsub|fnmadd|fnmsub|fmaddsub|fmsubadd)\w*", re.IGNORECASE)


def main():
    # CMake may hand a list over as one ;-separated argument.
    objdump = sys.argv[1]
    objects = [path for argument in sys.argv[2:] for path in argument.split(";") if path]
    if not objects:
        print("no object files given", file=sys.stderr)
        return 2
    found = 0
    for path in objects:
        listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", path], check=True,
                                 capture_output=True, text=True).stdout
        instructions = sum(1 for line in listing.splitlines() if re.match(r"\s*[0-9a-f]+:\s+\S", line))
        if instructions == 0:
            print(f"{path}: no instructions disassembled", file=sys.stderr)
            return 2
        for line in listing.splitlines():
            if FUSED.search(line):
                found += 1
                print(f"{path}: {line.strip()}")
        print(f"{path}: {instructions} instructions checked")
    if found:
        print(f"{found} fused multiply-add instructions", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
