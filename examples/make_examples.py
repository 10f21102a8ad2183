#!/usr/bin/env python3
"""Writes the example inputs of `axiswarp call` (standard library only).

ramp_uint8.npy  a 6-by-8 uint8 image, 40*row + 5*column
weights.npy     2-by-4 double: linear interpolation weights for 6 -> 4 samples
indices.npy     2-by-4 double: the matching one-based source rows

Output sample j sits at source position (j + 0.5) * 6/4 - 0.5, counted from
zero; its two taps are the rows on either side, clamped to the image, with
weights 1 - f and f for the fractional part f. Every weight here is a
multiple of 1/4, so the table is exact in binary.
"""
import math
import os
import struct


def save(path, descr, fmt, shape, values):
    """Writes a C-order, little-endian .npy file (format version 1.0)."""
    header = "{'descr': '%s', 'fortran_order': False, 'shape': (%s), }" % (
        descr, ", ".join(str(n) for n in shape) + ("," if len(shape) == 1 else ""))
    header += " " * ((64 - (10 + len(header) + 1) % 64) % 64) + "\n"
    with open(path, "wb") as f:
        f.write(b"\x93NUMPY\x01\x00" + struct.pack("<H", len(header)) + header.encode("ascii"))
        f.write(struct.pack("<%d%s" % (len(values), fmt), *values))


def linear_table(source, target):
    weights = [[], []]
    indices = [[], []]
    for j in range(target):
        x = (j + 0.5) * source / target - 0.5
        low = math.floor(x)
        f = x - low
        for tap, (row, w) in enumerate(((low, 1.0 - f), (low + 1, f))):
            indices[tap].append(float(min(max(row, 0), source - 1) + 1))
            weights[tap].append(w)
    # C order: the row of first taps, then the row of second taps.
    return weights[0] + weights[1], indices[0] + indices[1]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    rows, cols, out_rows = 6, 8, 4
    image = [40 * r + 5 * c for r in range(rows) for c in range(cols)]
    save(os.path.join(here, "ramp_uint8.npy"), "|u1", "B", (rows, cols), image)
    weights, indices = linear_table(rows, out_rows)
    save(os.path.join(here, "weights.npy"), "<f8", "d", (2, out_rows), weights)
    save(os.path.join(here, "indices.npy"), "<f8", "d", (2, out_rows), indices)


if __name__ == "__main__":
    main()
