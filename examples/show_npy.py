#!/usr/bin/env python3
"""Prints a small .npy file as rows of numbers (standard library only).

Handles the plain numeric dtypes in either order, which is all that the
examples and `axiswarp call` produce for real images.
"""
import ast
import struct
import sys

FORMATS = {"b1": "?", "u1": "B", "i1": "b", "u2": "H", "i2": "h", "u4": "I", "i4": "i",
           "u8": "Q", "i8": "q", "f4": "f", "f8": "d"}


def load(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:6] != b"\x93NUMPY":
        raise SystemExit("%s: not a .npy file" % path)
    if data[6] == 1:
        length, start = struct.unpack("<H", data[8:10])[0], 10
    else:
        length, start = struct.unpack("<I", data[8:12])[0], 12
    header = ast.literal_eval(data[start:start + length].decode("latin1"))
    descr, shape = header["descr"], header["shape"]
    if not isinstance(descr, str) or descr[1:] not in FORMATS:
        raise SystemExit("%s: dtype %s is not shown by this script" % (path, descr))
    count = 1
    for n in shape:
        count *= n
    order = ">" if descr[0] == ">" else "<"
    values = struct.unpack_from("%s%d%s" % (order, count, FORMATS[descr[1:]]), data,
                                start + length)
    return descr, shape, header["fortran_order"], values


def element(values, shape, fortran, index):
    offset, stride = 0, 1
    dims = list(range(len(shape)))
    for d in (dims if fortran else reversed(dims)):
        offset += index[d] * stride
        stride *= shape[d]
    return values[offset]


def main():
    for path in sys.argv[1:]:
        descr, shape, fortran, values = load(path)
        print("%s: %s, shape %s" % (path, descr, "x".join(str(n) for n in shape) or "scalar"))
        if len(shape) > 3:
            print("  (more than three dimensions: not shown)")
            continue
        full = tuple(shape) + (1,) * (3 - len(shape))
        for p in range(full[2]):
            if full[2] > 1:
                print("  plane %d" % (p + 1))
            for r in range(full[0]):
                row = [element(values, full, fortran, (r, c, p)) for c in range(full[1])]
                print("  " + " ".join("%6g" % v for v in row))


if __name__ == "__main__":
    main()
