#!/usr/bin/python3
"""Files made by independent writers (Pillow, tiffcp) read through the
format registry and compared with Pillow's decode: orientation kept outside
EXIF, damaged but readable JPEGs, and the TIFF kinds read by conversion.

Usage: format_interchange_test.py STREAM_CODEC_TOOL IMAGE_COPY_TOOL
"""
import os
import subprocess
import sys
import tempfile
import zlib

import numpy as np
from PIL import Image, PngImagePlugin

from interchange_support import check, exif_block, failures, picture

# In a cross build the target's programs start through its emulator.
LAUNCHER = os.environ.get("AXISWARP_TOOL_LAUNCHER", "").split()
TOOL, COPY = sys.argv[1], sys.argv[2]


def decode(path, strict=False):
    """(samples as H x W x C, orientation, icc, exif, stderr) or (None, stderr)."""
    raw = path + ".raw"
    run = subprocess.run([*LAUNCHER, TOOL, "decode"] + (["--strict"] if strict else []) + [path, raw],
                         capture_output=True, text=True)
    if run.returncode != 0:
        return None, run.stderr
    w, h, c, orientation, _, _, bits, pages = (int(v) for v in run.stdout.split())
    dtype = np.uint8 if bits == 8 else np.uint16
    samples = np.fromfile(raw, dtype).reshape(pages, h, w, c)
    return (samples, orientation, open(raw + ".icc", "rb").read(), open(raw + ".exif", "rb").read()), run.stderr


def raw_profile_text(block):
    """The hex-dump text chunk some converters write for an EXIF block."""
    digits = block.hex()
    lines = "\n".join(digits[i:i + 72] for i in range(0, len(digits), 72))
    return f"\nexif\n{len(block):8d}\n{lines}\n"


def xmp_packet(orientation, as_element=False):
    value = (f"<tiff:Orientation>{orientation}</tiff:Orientation>" if as_element else "")
    attribute = "" if as_element else f' tiff:Orientation="{orientation}"'
    return ('<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?><x:xmpmeta xmlns:x="adobe:ns:meta/">'
            '<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
            f'<rdf:Description rdf:about="" xmlns:tiff="http://ns.adobe.com/tiff/1.0/"{attribute}>{value}'
            '</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end="w"?>')


def png_chunk(kind, data):
    return len(data).to_bytes(4, "big") + kind + data + zlib.crc32(kind + data).to_bytes(4, "big")


def with_chunk_before_idat(path, chunk):
    data = open(path, "rb").read()
    at = data.index(b"IDAT") - 4
    open(path, "wb").write(data[:at] + chunk + data[at:])


def orientation_cases(folder):
    """PNG orientation outside an eXIf chunk, and EXIF orientation 0."""
    cases = [
        # name, text chunks (key, value, iTXt), eXIf orientation or None, expected orientation
        ("XMP attribute", [("XML:com.adobe.xmp", xmp_packet(6), True)], None, 6),
        ("XMP element", [("XML:com.adobe.xmp", xmp_packet(8, True), True)], None, 8),
        ("XMP out of range", [("XML:com.adobe.xmp", xmp_packet(0), True)], None, 1),
        ("XMP beside eXIf", [("XML:com.adobe.xmp", xmp_packet(6), True)], 3, 3),
        ("raw profile text", [("Raw profile type exif", raw_profile_text(exif_block(5)), False)], None, 5),
        ("raw profile and XMP", [("Raw profile type exif", raw_profile_text(exif_block(7)), False),
                                 ("XML:com.adobe.xmp", xmp_packet(6), True)], None, 7),
    ]
    for name, texts, exif_orientation, expected in cases:
        path = os.path.join(folder, name.replace(" ", "_") + ".png")
        info = PngImagePlugin.PngInfo()
        for key, value, itxt in texts:
            if itxt:
                info.add_itxt(key, value)
            else:
                info.add_text(key, value, zip=True)
        options = {"pnginfo": info}
        if exif_orientation is not None:
            options["exif"] = exif_block(exif_orientation)
        picture("RGB").save(path, **options)
        decoded, error = decode(path)
        check(decoded is not None, f"PNG {name}: refused: {error}")
        if decoded is not None:
            check(decoded[1] == expected, f"PNG {name}: orientation {decoded[1]}, expected {expected}")

    # An EXIF orientation of 0 reads as 1 and is written as 1.
    source = os.path.join(folder, "zero.jpg")
    picture("RGB").save(source, exif=exif_block(0), quality=95)
    decoded, error = decode(source)
    check(decoded is not None and decoded[1] == 1, f"JPEG orientation 0: read as {decoded and decoded[1]} {error}")
    copied = os.path.join(folder, "zero-copy.jpg")
    run = subprocess.run([*LAUNCHER, COPY, source, copied], capture_output=True, text=True)
    check(run.returncode == 0, f"JPEG orientation 0: copy failed: {run.stderr}")
    if run.returncode == 0:
        with Image.open(copied) as pil:
            check(pil.getexif().get(0x0112) == 1, f"JPEG orientation 0: written as {pil.getexif().get(0x0112)}")

    # An iCCP chunk whose compression method is unknown is dropped with a
    # warning naming it, not silently.
    path = os.path.join(folder, "odd-iccp.png")
    picture("RGB").save(path)
    with_chunk_before_idat(path, png_chunk(b"iCCP", b"odd\0\x07" + zlib.compress(bytes(200))))
    decoded, error = decode(path)
    check(decoded is not None and decoded[2] == b"", f"iCCP of an unknown method: {error}")
    check("ICC profile" in error and "odd-iccp.png" in error, f"iCCP of an unknown method: no warning: {error!r}")


def icc_segment(profile, number, count):
    data = b"ICC_PROFILE\0" + bytes([number, count]) + profile
    return b"\xff\xe2" + (len(data) + 2).to_bytes(2, "big") + data


def damaged_jpeg_cases(folder):
    """Stray bytes before a marker read past with a warning (refused when
    strict); truncated data refused either way; profile segments that do
    not join reported."""
    source = os.path.join(folder, "clean.jpg")
    picture("RGB", 64, 48).save(source, quality=90)
    clean = open(source, "rb").read()
    sos = clean.index(b"\xff\xda")
    cases = [
        # name, bytes, strict, refused, stderr must hold, samples compared with Pillow
        ("stray bytes", clean[:sos] + b"\x12\x34\x56" + clean[sos:], False, False, "extraneous bytes", True),
        ("stray bytes, strict", clean[:sos] + b"\x12\x34\x56" + clean[sos:], True, True, "extraneous bytes", False),
        ("truncated", clean[: len(clean) * 2 // 3], False, True, "Premature end", False),
        ("truncated, strict", clean[: len(clean) * 2 // 3], True, True, "Premature end", False),
        ("ICC pieces both 1 of 1", clean[:2] + icc_segment(bytes(300), 1, 1) + icc_segment(bytes(300), 1, 1) + clean[2:],
         False, False, "ICC profile was left out", True),
        ("clean, strict", clean, True, False, "", True),
    ]
    for name, data, strict, refused, says, compare in cases:
        path = os.path.join(folder, name.replace(" ", "_").replace(",", "") + ".jpg")
        open(path, "wb").write(data)
        decoded, error = decode(path, strict)
        check((decoded is None) == refused, f"JPEG {name}: {'read' if decoded is not None else 'refused'}: {error!r}")
        check(says in error and (not says or os.path.basename(path) in error),
              f"JPEG {name}: stderr {error!r} lacks {says!r}")
        check(says != "" or error == "", f"JPEG {name}: unexpected stderr {error!r}")
        if compare and decoded is not None:
            with Image.open(path) as pil:
                expected = np.asarray(pil.convert("RGB"))
            check(np.array_equal(decoded[0][0], expected), f"JPEG {name}: samples differ from Pillow's")


def tiny_tiff(pages):
    """A little-endian TIFF, one uncompressed strip a page. Each page is
    (width, height, samples, bits, photometric, strip bytes, {tag: values}):
    the writers at hand cannot pack 2-, 4- or 12-bit samples."""
    out = bytearray(b"II*\0\0\0\0\0")
    link = 4  # where the next directory's offset goes
    for width, height, samples, bits, photometric, strip, extra in pages:
        strip_at = len(out)
        out += strip + b"\0" * (len(strip) % 2)
        tags = {256: [width], 257: [height], 258: [bits] * samples, 259: [1], 262: [photometric],
                273: [strip_at], 277: [samples], 278: [height], 279: [len(strip)]}
        tags.update(extra)
        ifd_at = len(out)
        out[link:link + 4] = ifd_at.to_bytes(4, "little")
        values_at = ifd_at + 2 + 12 * len(tags) + 4
        entries, values = bytearray(), bytearray()
        for tag in sorted(tags):
            kind = 4 if tag in (256, 257, 273, 278, 279, 254) else 3
            data = b"".join(v.to_bytes(kind if kind == 4 else 2, "little") for v in tags[tag])
            entries += tag.to_bytes(2, "little") + kind.to_bytes(2, "little") + len(tags[tag]).to_bytes(4, "little")
            if len(data) <= 4:
                entries += data.ljust(4, b"\0")
            else:
                entries += (values_at + len(values)).to_bytes(4, "little")
                values += data + b"\0" * (len(data) % 2)
        out += len(tags).to_bytes(2, "little") + entries + b"\0\0\0\0" + values
        link = ifd_at + 2 + 12 * len(tags)
    return bytes(out)


def packed(values, bits, width):
    """Rows of `values` (H x W) packed most significant bit first, each row
    padded to whole bytes."""
    rows = bytearray()
    for row in values:
        accumulator, count = 0, 0
        for v in row:
            accumulator, count = (accumulator << bits) | int(v), count + bits
        pad = (-count) % 8
        rows += (accumulator << pad).to_bytes((count + pad) // 8, "big")
    return bytes(rows)


def tiff_cases(folder):
    """Each TIFF kind read by conversion, against Pillow's decode of the same
    file (or, for what Pillow keeps unscaled, its scaling in numpy)."""
    h, w = 23, 37
    y, x = np.mgrid[0:h, 0:w]
    rgb = np.stack([30 + 190 * x // w, 40 + 170 * y // h, (x * 7 + y * 13) % 256], -1).astype(np.uint8)
    base = os.path.join(folder, "rgb.tif")
    Image.fromarray(rgb).save(base)
    bilevel = os.path.join(folder, "bilevel.tif")
    Image.fromarray(((x * 3 + y * 5) % 7 < 3).astype(np.uint8) * 255).convert("1").save(bilevel)
    palette = os.path.join(folder, "palette.tif")
    Image.fromarray(rgb).convert("P", palette=Image.ADAPTIVE, colors=50).save(palette)

    def tiffcp(source, name, *options):
        path = os.path.join(folder, name)
        subprocess.run(["tiffcp", *options, source, path], check=True, capture_output=True)
        return path

    def tiny(name, pages):
        path = os.path.join(folder, name)
        open(path, "wb").write(tiny_tiff(pages))
        return path

    gray4 = (x + y) % 16
    gray2 = (x * y) % 4
    gray12 = (x * 97 + y * 31) % 4096
    colours4 = np.array([[0, 0, 0], [255, 0, 0], [0, 255, 0], [0, 0, 255]] + [[17 * i, 255 - 17 * i, 3 * i] for i in range(12)])
    colormap = [int(v) * 257 for v in colours4.T.reshape(-1)]
    colormap16 = [(int(v) * 257 + 1) % 65536 for v in colours4.T.reshape(-1)]
    index4 = (x // 3 + y) % 16
    scaled12 = (gray12 * 65535 + 2047) // 4095
    pillow = None  # compare with Pillow's decode
    cases = [
        # name, path, expected samples (None: Pillow's, as RGB or L), channels, bits, warning
        ("JPEG YCbCr", tiffcp(base, "jpeg.tif", "-r", "16", "-c", "jpeg:90"), pillow, 3, 8, ""),
        ("JPEG RGB", tiffcp(base, "jpeg-rgb.tif", "-r", "16", "-c", "jpeg:r:90"), pillow, 3, 8, ""),
        ("CCITT G4", tiffcp(bilevel, "g4.tif", "-c", "g4"), pillow, 1, 8, ""),
        ("CCITT G3", tiffcp(bilevel, "g3.tif", "-c", "g3"), pillow, 1, 8, ""),
        ("bilevel", bilevel, pillow, 1, 8, ""),
        ("palette", palette, pillow, 3, 8, ""),
        ("palette LZW", tiffcp(palette, "palette-lzw.tif", "-c", "lzw"), pillow, 3, 8, ""),
        ("4-bit gray", tiny("gray4.tif", [(w, h, 1, 4, 1, packed(gray4, 4, w), {})]), gray4 * 17, 1, 8, ""),
        ("2-bit gray", tiny("gray2.tif", [(w, h, 1, 2, 1, packed(gray2, 2, w), {})]), gray2 * 85, 1, 8, ""),
        ("4-bit white is zero", tiny("white4.tif", [(w, h, 1, 4, 0, packed(gray4, 4, w), {})]),
         255 - gray4 * 17, 1, 8, ""),
        ("12-bit gray", tiny("gray12.tif", [(w, h, 1, 12, 1, packed(gray12, 12, w), {})]), scaled12, 1, 16, ""),
        ("4-bit palette", tiny("palette4.tif", [(w, h, 1, 4, 3, packed(index4, 4, w), {320: colormap})]),
         colours4[index4], 3, 8, ""),
        ("4-bit palette of 16-bit colours", tiny("palette16.tif", [(w, h, 1, 4, 3, packed(index4, 4, w),
                                                                    {320: colormap16})]),
         np.array(colormap16).reshape(3, 16).T[index4], 3, 16, ""),
        ("overviews", tiny("pyramid.tif", [(w, h, 1, 4, 1, packed(gray4, 4, w), {}),
                                           (w // 2, h // 2, 1, 8, 1, bytes(w // 2 * (h // 2)), {254: [1]})]),
         gray4 * 17, 1, 8, "1 reduced-resolution overview was left out"),
    ]
    for name, path, expected, channels, bits, warning in cases:
        decoded, error = decode(path)
        check(decoded is not None, f"TIFF {name}: refused: {error}")
        if decoded is None:
            continue
        samples = decoded[0]
        check(samples.shape == (1, h, w, channels) and samples.dtype.itemsize * 8 == bits,
              f"TIFF {name}: {samples.shape} of {samples.dtype}, expected {channels} channels of {bits} bits")
        if expected is None:
            with Image.open(path) as pil:
                expected = np.asarray(pil.convert("RGB" if channels == 3 else "L"))
        expected = np.asarray(expected).reshape(samples.shape)
        check(np.array_equal(samples, expected),
              f"TIFF {name}: samples differ by up to {np.abs(samples.astype(int) - expected.astype(int)).max()}")
        check(warning in error and (warning != "" or error == ""), f"TIFF {name}: stderr {error!r}")

    # Written with JPEG compression, read back by Pillow (through libtiff).
    # A smooth image: JPEG's halved chroma smears sharp colour edges.
    smooth = os.path.join(folder, "smooth.tif")
    rgb = np.stack([30 + 190 * x // w, 40 + 170 * y // h, 100 + 2 * (x + y)], -1).astype(np.uint8)
    Image.fromarray(rgb).save(smooth)
    out = os.path.join(folder, "out-jpeg.tif")
    run = subprocess.run([*LAUNCHER, COPY, smooth, out, "jpeg"], capture_output=True, text=True)
    check(run.returncode == 0, f"TIFF written as JPEG: {run.stderr}")
    if run.returncode == 0:
        with Image.open(out) as pil:
            check(pil.info.get("compression") == "jpeg", f"TIFF written as JPEG: compression {pil.info}")
            worst = np.abs(np.asarray(pil.convert("RGB")).astype(int) - rgb.astype(int)).max()
            check(worst <= 8, f"TIFF written as JPEG: differs from the original by up to {worst}")


def cmyk_cases(folder):
    """CMYK read from JPEG (Adobe's inverted samples kept) and TIFF, written
    to each other with the convention each format has, and refused for PNG
    without a profile to convert by."""
    h, w = 23, 37
    y, x = np.mgrid[0:h, 0:w]
    cmyk = np.stack([x * 6, y * 10, (x + y) * 4, (x * y) % 200], -1).astype(np.uint8)
    jpg, tif = os.path.join(folder, "cmyk.jpg"), os.path.join(folder, "cmyk.tif")
    Image.fromarray(cmyk, "CMYK").save(jpg, quality=95)
    Image.fromarray(cmyk, "CMYK").save(tif)
    with Image.open(jpg) as pil:
        from_jpeg = np.asarray(pil)  # Pillow turns Adobe's inverted samples back
    for name, path, expected in [("JPEG", jpg, 255 - from_jpeg), ("TIFF", tif, cmyk)]:
        decoded, error = decode(path)
        check(decoded is not None and np.array_equal(decoded[0][0], expected), f"CMYK {name}: read {error}")
    for name, source, target, expected, tolerance in [("JPEG to TIFF", jpg, "copy.tif", from_jpeg, 0),
                                                      ("TIFF to JPEG", tif, "copy.jpg", cmyk, 16)]:
        out = os.path.join(folder, target)
        run = subprocess.run([*LAUNCHER, COPY, source, out], capture_output=True, text=True)
        check(run.returncode == 0, f"CMYK {name}: {run.stderr}")
        if run.returncode == 0:
            with Image.open(out) as pil:
                worst = np.abs(np.asarray(pil).astype(int) - expected.astype(int)).max()
                check(pil.mode == "CMYK" and worst <= tolerance, f"CMYK {name}: {pil.mode}, off by {worst}")
    out = os.path.join(folder, "cmyk.png")
    run = subprocess.run([*LAUNCHER, COPY, tif, out], capture_output=True, text=True)
    check(run.returncode == 1 and "CMYK without a CMYK colour profile" in run.stderr and not os.path.exists(out),
          f"CMYK to PNG without a profile: {run.returncode} {run.stderr!r}")


with tempfile.TemporaryDirectory() as folder:
    cmyk_cases(folder)
    orientation_cases(folder)
    damaged_jpeg_cases(folder)
    tiff_cases(folder)

if failures:
    print(f"{len(failures)} failure(s)")
    sys.exit(1)
print("all passed")
