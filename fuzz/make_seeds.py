#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets into fuzz/corpus/.

Call seeds (fuzz/corpus/call) are encoded in the byte layout that
call_fuzzer.cpp decodes, so they start the fuzzer from a well-formed call of
every kind: each family of classes, both dimensions, complex images,
three-dimensional images, K = 0, outputs wide enough for full blocks of eight
columns, and one call for each error path.

.npy seeds (fuzz/corpus/npy) are small valid files of each kind the reader
takes: both byte orders, both memory orders, bool, complex floats, complex
integers as a structured dtype, 0-d, 1-d and empty arrays, header version 2.

PNG seeds (fuzz/corpus/png) cover every colour type, bit depths 1 to 16, a
palette with transparency, a tRNS key colour and Adam7 interlacing. TIFF
seeds (fuzz/corpus/tiff) are written with tifffile: each sample format,
strips, tiles, separate planes, Deflate with the predictor, a two-page
stack, big-endian, the ICC profile and Orientation tags, and an LZW strip
made of literal codes, which tifffile cannot encode. The TIFF kinds read by
conversion are written by hand (packed 2-, 4- and 12-bit samples, a 4-bit
palette, white-is-zero, a page followed by its overview) and with tiffcp
from libtiff-tools (JPEG in YCbCr, CCITT G3 and G4). The JPEG
seeds (fuzz/corpus/jpeg) need an encoder and are written by the tool
library's own: `ninja -C BUILD write_jpeg_seeds && BUILD/fuzz/write_jpeg_seeds fuzz/corpus/jpeg`.
"""
import os
import struct
import sys
import zlib

LISTED = ["double", "single", "int8", "uint8", "int16", "uint16", "int32",
          "uint32", "int64", "uint64", "logical"]
SIZE = {"double": 8, "single": 4, "int8": 1, "uint8": 1, "int16": 2, "uint16": 2,
        "int32": 4, "uint32": 4, "int64": 8, "uint64": 8, "logical": 1}
PACK = {"double": "<d", "single": "<f", "int8": "<b", "uint8": "<B", "int16": "<h",
        "uint16": "<H", "int32": "<i", "uint32": "<I", "int64": "<q", "uint64": "<Q",
        "logical": "<B", "unlisted4": "<H"}
# Positions in decodeDimValue's palette.
DIM_VALUE = {1.0: 0, 2.0: 1, 1.5: 4, 3.0: 7, 0.0: 8, -1.0: 10, "nan": 11}
# Positions in decodeWeight's palette.
WEIGHT = {0.0: 0, 1.0: 2, -1.0: 3, 0.5: 4, 0.25: 5, 2.0: 7, 255.5: 9, 1e308: 12, "nan": 14, "inf": 15}


def extents(dims):
    # decodeExtent: 0..8 as themselves, 9..40 from 128 on, 41 + 2n as 224, n.
    out = bytearray()
    for e in dims:
        if e <= 8:
            out.append(e)
        elif e <= 40:
            out.append(128 + e - 9)
        else:
            assert (e - 41) % 2 == 0 and e <= 551
            out += bytes([224, (e - 41) // 2])
    return bytes(out)


def header(inputs=4, dim=1.0, simd=0):
    """simd: a byte the input format keeps; the fuzzer ignores it (fuzz/run.sh
    runs one process per instruction-set level)."""
    count = 0 if inputs == 4 else 224 + (inputs - 224 % 7) % 7
    return bytes([count, 1, DIM_VALUE[dim], simd])


def options(complex_=False, numeric=None, sparse=False):
    flags = 0x01 if complex_ else 0
    if sparse:
        flags |= 0x0E
    if numeric == "set":
        flags |= 6 << 4
    elif numeric == "clear":
        flags |= 7 << 4
    return bytes([flags])


def image(cls, dims, real, imag=None, numeric=None, raw_class=None):
    out = bytearray()
    if raw_class is None:
        out += bytes([0, LISTED.index(cls)])
    else:  # a plain class identifier 0..16 chosen outright
        out += bytes([200, raw_class])
    out += options(imag is not None, numeric)
    out += bytes([3 if len(dims) == 3 else 0]) + extents(dims)
    fmt = PACK.get(cls, "<B")
    for part in (real, imag):
        if part is not None:
            out += b"".join(struct.pack(fmt, v) for v in part)
    return bytes(out)


def weights(k, l, values):
    out = bytearray([0]) + options() + bytes([0]) + extents([k, l])
    for v in values:
        out.append(WEIGHT[v])
    return bytes(out)


def indices(values, extent=1):
    """values: (whole position counted from 1, fraction selector) pairs;
    extent: the image's extent along the resized dimension."""
    out = bytearray([0]) + options() + bytes([0])  # same shape as the weights
    for whole, fraction in values:
        position = struct.pack("<H", whole - 1) if extent > 255 else bytes([whole - 1])
        out += bytes([0]) + position + bytes([fraction])
    return bytes(out)


def out_of_range_indices(count, bad_selector):
    out = bytearray([0]) + options() + bytes([0])
    out += bytes([bad_selector])
    out += bytes([0, 0, 0]) * (count - 1)
    return bytes(out)


def dim_argument():
    return bytes([0]) + options() + bytes([0])


def call(*parts, inputs=4, dim=1.0, simd=0):
    return header(inputs, dim, simd) + b"".join(parts)


SEEDS = {
    # 4-by-3 double image, two taps per sample, five samples along dimension 1.
    "double_dim1": call(
        image("double", [4, 3], [float(v) for v in range(12)]),
        weights(2, 5, [0.5, 0.5] * 5),
        indices([(1, 0), (2, 0), (2, 2), (3, 0), (3, 0), (4, 0), (4, 3), (1, 0), (2, 1), (2, 5)]),
        dim_argument()),
    # 3-by-4 uint8 image widened to nine columns: one block of eight and one more.
    "uint8_dim2_nine_columns": call(
        image("uint8", [3, 4], [0, 255, 17, 128, 3, 90, 200, 1, 44, 250, 9, 127]),
        weights(1, 9, [1.0, 0.5, 2.0, 255.5, -1.0, 0.25, 1.0, 1.0, 0.0]),
        indices([(1, 0), (2, 0), (3, 0), (4, 0), (1, 2), (2, 2), (3, 2), (4, 2), (4, 0)]),
        dim_argument(), dim=2.0),
    # Complex int16 along dimension 1 with saturating weights.
    "int16_complex_dim1": call(
        image("int16", [3, 2], [32767, -32768, 5, -7, 100, 0], imag=[1, -1, 2, -2, 3, -3]),
        weights(2, 2, [2.0, -1.0, 0.5, 0.25]),
        indices([(1, 0), (2, 0), (3, 0), (1, 0)]),
        dim_argument()),
    # Three-dimensional logical image along dimension 2 (dimension value 3).
    "logical_3d_dim2": call(
        image("logical", [2, 3, 2], [1, 0, 1, 1, 0, 1, 0, 0, 1, 1, 1, 0]),
        weights(2, 3, [1.0, 1.0, 1.0, 0.0, 0.5, 0.5]),
        indices([(1, 0), (2, 0), (3, 0), (3, 0), (2, 1), (1, 1)]),
        dim_argument(), dim=3.0),
    # Single image with NaN and infinite weights.
    "single_special_weights": call(
        image("single", [2, 2], [1.5, -2.0, 3.0e38, 0.0]),
        weights(2, 2, ["nan", 1.0, "inf", 0.0]),
        indices([(1, 0), (2, 0), (2, 0), (1, 0)]),
        dim_argument()),
    # uint64 and int64 near their limits, huge weights.
    "uint64_huge": call(
        image("uint64", [2, 2], [2**64 - 1, 0, 2**63, 12345]),
        weights(1, 3, [1e308, 1.0, 0.5]),
        indices([(1, 0), (2, 0), (2, 3)]),
        dim_argument()),
    "int64_dim2": call(
        image("int64", [2, 3], [-2**63, 2**63 - 1, 7, -7, 0, 1]),
        weights(2, 2, [1.0, 1.0, -1.0, 0.5]),
        indices([(1, 0), (3, 0), (2, 0), (3, 1)]),
        dim_argument(), dim=2.0),
    # K = 0: every sample is the conversion of +0.0.
    "zero_taps": call(
        image("int32", [3, 2], [1, 2, 3, 4, 5, 6]),
        weights(0, 4, []),
        indices([]),
        dim_argument()),
    # Shapes past the vectorised kernels' block, tile, chunk and gather
    # sizes, at each instruction-set level.
    "uint8_dim1_tiles_avx2": call(
        image("uint8", [301, 3], [(i * 37) % 256 for i in range(903)]),
        weights(40, 2, [[0.25, 0.5, -1.0, 2.0][i % 4] for i in range(80)]),
        indices([(1 + (i * 7) % 301, i % 6) for i in range(80)], extent=301),
        dim_argument(), simd=3),
    "single_dim2_blocks_sse2": call(
        image("single", [37, 9], [float(i % 50) - 20.5 for i in range(333)]),
        weights(3, 20, [[0.25, 0.5, 0.25][i % 3] for i in range(60)]),
        indices([(1 + (i // 3 + i % 3) % 9, 0) for i in range(60)]),
        dim_argument(), dim=2.0, simd=2),
    "int16_dim1_chunk_scalar": call(
        image("int16", [5, 4], [(-1) ** i * i * 1000 for i in range(20)]),
        weights(1, 71, [[1.0, 0.5, 2.0][i % 3] for i in range(71)]),
        indices([(1 + i % 5, i % 6) for i in range(71)]),
        dim_argument(), simd=1),
    "double_dim2_wide_avx2": call(
        image("double", [20, 3], [i / 7 for i in range(60)]),
        weights(2, 41, [[0.5, 0.5, 1.0, 0.0][i % 4] for i in range(82)]),
        indices([(1 + i % 3, 0) for i in range(82)]),
        dim_argument(), dim=2.0, simd=3),
    # One error per path.
    "three_inputs": call(
        image("double", [2, 2], [1.0, 2.0, 3.0, 4.0]),
        weights(1, 1, [1.0]),
        indices([(1, 0)]),
        inputs=3),
    "index_nan": call(
        image("uint16", [3, 3], list(range(9))),
        weights(1, 2, [1.0, 1.0]),
        out_of_range_indices(2, 200 + 8),
        dim_argument()),
    "index_past_end": call(
        image("uint32", [3, 3], list(range(9))),
        weights(1, 2, [1.0, 1.0]),
        out_of_range_indices(2, 200 + 4),
        dim_argument(), dim=2.0),
    "unlisted4_with_numeric_flag": call(
        image("unlisted4", [2, 2], [65, 66, 67, 68], numeric="set", raw_class=4),
        weights(1, 2, [1.0, 1.0]),
        indices([(1, 0), (2, 0)]),
        dim_argument()),
    "sparse_image": call(
        bytes([0, LISTED.index("double")]) + options(sparse=True) + bytes([0, 2, 2]) + bytes(32),
        weights(1, 2, [1.0, 1.0]),
        indices([(1, 0), (2, 0)]),
        dim_argument()),
}


def npy(descr, shape, payload, fortran=False, version=1):
    shape_text = "(" + "".join(f"{d}, " for d in shape).rstrip(" ")
    if len(shape) > 1:
        shape_text = shape_text.rstrip(",")
    shape_text += ")"
    order = "True" if fortran else "False"
    header = f"{{'descr': {descr}, 'fortran_order': {order}, 'shape': {shape_text}, }}"
    preamble = 10 if version == 1 else 12
    total = (preamble + len(header) + 1 + 63) // 64 * 64
    header = header + " " * (total - preamble - len(header) - 1) + "\n"
    length = struct.pack("<H" if version == 1 else "<I", len(header))
    return b"\x93NUMPY" + bytes([version, 0]) + length + header.encode("latin1") + payload


NPY_SEEDS = {
    "f8_c_order_2x3": npy("'<f8'", [2, 3], struct.pack("<6d", 1, 2, 3, 4.5, -0.0, float("nan"))),
    "f4_fortran_3x2": npy("'<f4'", [3, 2], struct.pack("<6f", 1, 2, 3, 4, 5, 6), fortran=True),
    "i2_big_endian_2x2x2": npy("'>i2'", [2, 2, 2], struct.pack(">8h", *range(-4, 4))),
    "u8_1d": npy("'<u8'", [3], struct.pack("<3Q", 0, 1, 2**64 - 1)),
    "b1_bool": npy("'|b1'", [2, 2], bytes([0, 1, 2, 255])),
    "u1_0d": npy("'|u1'", [], bytes([7])),
    "c16_complex": npy("'<c16'", [2], struct.pack("<4d", 1, -1, 0.5, 2)),
    "c8_big_endian": npy("'>c8'", [1, 2], struct.pack(">4f", 1, 2, 3, 4)),
    "i4_structured_complex": npy("[('re', '<i4'), ('im', '<i4')]", [2, 1], struct.pack("<4i", 1, 2, -3, 4)),
    "i8_empty_0x5": npy("'<i8'", [0, 5], b""),
    "u2_version2": npy("'<u2'", [2, 3], struct.pack("<6H", *range(6)), version=2),
}


def png_chunk(kind, payload):
    body = kind + payload
    return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body))


def png(width, height, color_type, depth, rows, palette=None, trns=None, interlace=0, before_data=b""):
    """rows: the filtered scanlines without their filter byte (filter 0 is
    prepended), already packed to the bit depth. before_data: chunks put
    right before the image data."""
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, interlace)
    out = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
    if palette is not None:
        out += png_chunk(b"PLTE", bytes(palette))
    if trns is not None:
        out += png_chunk(b"tRNS", bytes(trns))
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    out += before_data
    out += png_chunk(b"IDAT", zlib.compress(raw)) + png_chunk(b"IEND", b"")
    return out


def icc_profile(colour_space=b"RGB ", data=bytes(range(16))):
    """A display profile whose header passes libpng's checks, with one
    private tag holding `data`."""
    size = 144 + len(data)
    head = struct.pack(">I4sI4s4s4s12x4s", size, b"\0\0\0\0", 0x02100000, b"mntr", colour_space, b"XYZ ", b"acsp")
    head += bytes(24) + struct.pack(">I3I", 0, 0xF6D6, 0x10000, 0xD32D) + bytes(48)
    return head + struct.pack(">I4sII", 1, b"zzzz", 144, len(data)) + data


def exif(orientation):
    """Little-endian EXIF: IFD0 with Make and Orientation."""
    ifd = struct.pack("<H", 2) + struct.pack("<HHII", 0x010F, 2, 6, 38) + struct.pack("<HHIHH", 0x0112, 3, 1, orientation, 0)
    return b"II*\0" + struct.pack("<I", 8) + ifd + struct.pack("<I", 0) + b"Maker\0"


PNG_SEEDS = {
    "gray8_3x2": png(3, 2, 0, 8, [[0, 128, 255], [1, 2, 3]]),
    "gray1_9x2": png(9, 2, 0, 1, [[0b10110011, 0b10000000], [0b01010101, 0b00000000]]),
    "gray_alpha8_2x2": png(2, 2, 4, 8, [[10, 255, 20, 0], [30, 128, 40, 64]]),
    "rgb8_4x3": png(4, 3, 2, 8, [[(r * 60 + c * 7) % 256 for c in range(12)] for r in range(3)]),
    "rgba16_2x2": png(2, 2, 6, 16, [list(range(16)), list(range(100, 116))]),
    "palette2_trns_5x3": png(5, 3, 3, 2, [[0b00011011, 0b00000000], [0b11100100, 0b01000000], [0, 0]],
                             palette=[255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9], trns=[0, 128]),
    "rgb16_key_trns_2x1": png(2, 1, 2, 16, [[0, 1, 0, 2, 0, 3, 255, 255, 0, 0, 7, 7]],
                              trns=[0, 1, 0, 2, 0, 3]),
    "gray8_interlaced_1x1": png(1, 1, 0, 8, [[77]], interlace=1),
    "rgb8_iccp_exif6_3x2": png(3, 2, 2, 8, [list(range(9)), list(range(50, 59))],
                               before_data=png_chunk(b"iCCP", b"ICC profile\0\0" + zlib.compress(icc_profile()))
                               + png_chunk(b"eXIf", exif(6))),
}


def lzw_literals(data):
    """An LZW stream of only literal codes: Clear, each byte, End. Valid while
    the decoder's table stays below 511 entries, so codes stay 9 bits."""
    assert len(data) < 250
    bits = "".join(format(code, "09b") for code in [256, *data, 257])
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def tiff(data, **options):
    import io
    import tifffile  # imported here: only the TIFF seeds need it
    out = io.BytesIO()
    pages = options.pop("pages", [data])
    with tifffile.TiffWriter(out, byteorder=options.pop("byteorder", "<")) as tif:
        for page in pages:
            tif.write(page, **options)
    return out.getvalue()


def tiff_seeds():
    import numpy as np
    gray = np.arange(12, dtype="u1").reshape(3, 4)
    return {
        "gray_u8_4x3": tiff(gray),
        "gray_lzw_literals_4x3": as_lzw(tiff(gray), lzw_literals(gray.tobytes())),
        "gray_alpha_u16_deflate_3x2": tiff(np.arange(12, dtype="u2").reshape(3, 2, 2) * 5000,
                                           photometric="minisblack", extrasamples=["unassalpha"],
                                           compression="zlib", predictor=True),
        "rgb_i16_big_endian_2x2": tiff(np.array([[[-1, 2, -3], [4, -5, 6]], [[7, -8, 9], [0, 1, -2]]], "i2"),
                                       photometric="rgb", byteorder=">"),
        "rgba_f32_tiled_17x3": tiff(np.linspace(-1, 2, 17 * 3 * 4, dtype="f4").reshape(3, 17, 4),
                                    photometric="rgb", extrasamples=["assocalpha"], tile=(16, 16),
                                    compression="zlib"),
        "rgb_u32_separate_3x2": tiff(np.arange(18, dtype="u4").reshape(3, 2, 3) * 99991, photometric="rgb",
                                     planarconfig="separate"),
        "gray_f64_stack_2x2x2": tiff(None, pages=[np.full((2, 2), v, "f8") for v in (0.5, -1e300)]),
        "gray_i32_icc_orient_2x1": tiff(np.array([[-2**31, 2**31 - 1]], "i4"),
                                        extratags=[(34675, "B", 5, b"prof!", True), (274, "H", 1, 8, True)]),
        "gray_i8_rows_per_strip_1_1x5": tiff(np.arange(-2, 3, dtype="i1").reshape(5, 1), rowsperstrip=1),
    }


def as_lzw(file, packed):
    """The one-strip little-endian TIFF `file` with its strip replaced by
    `packed`, appended at the end, and Compression set to LZW (5)."""
    out = bytearray(file)
    offset = len(out)
    out += packed
    ifd = struct.unpack_from("<I", out, 4)[0]
    for i in range(struct.unpack_from("<H", out, ifd)[0]):
        e = ifd + 2 + 12 * i
        tag, kind = struct.unpack_from("<HH", out, e)
        value = {259: 5, 273: offset, 279: len(packed)}.get(tag)
        if value is not None:
            struct.pack_into("<H" if kind == 3 else "<I", out, e + 8, value)
    return bytes(out)


def tiny_tiff(pages):
    """A little-endian TIFF, one uncompressed strip a page: (width, height,
    bits, photometric, strip bytes, {tag: values}) each, one sample."""
    out = bytearray(b"II*\0\0\0\0\0")
    link = 4
    for width, height, bits, photometric, strip, extra in pages:
        strip_at = len(out)
        out += strip + b"\0" * (len(strip) % 2)
        tags = {256: [width], 257: [height], 258: [bits], 259: [1], 262: [photometric],
                273: [strip_at], 277: [1], 278: [height], 279: [len(strip)], **extra}
        ifd_at = len(out)
        out[link:link + 4] = struct.pack("<I", ifd_at)
        values_at = ifd_at + 2 + 12 * len(tags) + 4
        entries, values = bytearray(), bytearray()
        for tag in sorted(tags):
            kind, fmt = (4, "<I") if tag in (254, 256, 257, 273, 278, 279) else (3, "<H")
            data = b"".join(struct.pack(fmt, v) for v in tags[tag])
            entries += struct.pack("<HHI", tag, kind, len(tags[tag]))
            if len(data) <= 4:
                entries += data.ljust(4, b"\0")
            else:
                entries += struct.pack("<I", values_at + len(values))
                values += data
        out += struct.pack("<H", len(tags)) + entries + b"\0\0\0\0" + values
        link = ifd_at + 2 + 12 * len(tags)
    return bytes(out)


def converted_tiff_seeds():
    import subprocess
    import tempfile
    seeds = {
        "gray4_packed_5x3": tiny_tiff([(5, 3, 4, 1, bytes([0x12, 0x34, 0x50, 0xfe, 0xdc, 0xb0, 0x0f, 0xf0, 0xa0]), {})]),
        "gray2_white_is_zero_7x2": tiny_tiff([(7, 2, 2, 0, bytes([0x1b, 0xe4, 0xc6, 0x30]), {})]),
        "gray12_3x2": tiny_tiff([(3, 2, 12, 1, bytes([0x00, 0x0f, 0xff, 0x80, 0x00, 0x00, 0x12, 0x34, 0x56]), {})]),
        "palette4_16bit_colours_4x2": tiny_tiff([(4, 2, 4, 3, bytes([0x01, 0x23, 0xf0, 0x0f]),
                                                  {320: [i * 4097 + c for c in range(3) for i in range(16)]})]),
        "gray8_with_overview_4x4": tiny_tiff([(4, 4, 8, 1, bytes(range(16)), {}),
                                              (2, 2, 8, 1, bytes(4), {254: [1]})]),
    }
    with tempfile.TemporaryDirectory() as folder:
        gray = os.path.join(folder, "gray.tif")
        open(gray, "wb").write(tiny_tiff([(16, 16, 8, 1, bytes((x * 16 + y * 5) % 256 for y in range(16)
                                                                for x in range(16)), {})]))
        bilevel = os.path.join(folder, "bilevel.tif")
        open(bilevel, "wb").write(tiny_tiff([(16, 4, 1, 0, bytes([0xf0, 0x0f, 0xaa, 0x55, 0, 0xff, 0x81, 0x18]), {})]))
        for name, source, options in [("jpeg_gray_16x16", gray, ["-c", "jpeg:75"]),
                                      ("ccitt_g4_16x4", bilevel, ["-c", "g4"]),
                                      ("ccitt_g3_16x4", bilevel, ["-c", "g3"])]:
            out = os.path.join(folder, name)
            subprocess.run(["tiffcp", *options, source, out], check=True)
            seeds[name] = open(out, "rb").read()
    return seeds


def write_all(directory, seeds):
    os.makedirs(directory, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)


def main():
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    write_all(os.path.join(corpus, "call"), SEEDS)
    write_all(os.path.join(corpus, "npy"), NPY_SEEDS)
    write_all(os.path.join(corpus, "png"), PNG_SEEDS)
    write_all(os.path.join(corpus, "tiff"), tiff_seeds())
    write_all(os.path.join(corpus, "tiff"), converted_tiff_seeds())


if __name__ == "__main__":
    main()
