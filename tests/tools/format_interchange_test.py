#!/usr/bin/python3
"""Files made by independent writers (Pillow, tiffcp) read through the
format registry and compared with Pillow's decode: orientation kept outside
EXIF, damaged but readable JPEGs, and the TIFF kinds read by conversion.

Usage: format_interchange_test.py STREAM_CODEC_TOOL IMAGE_COPY_TOOL
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zlib

import numpy as np
from PIL import Image, PngImagePlugin

TOOL, COPY = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def picture(mode, width=37, height=23):
    y, x = np.mgrid[0:height, 0:width]
    channels = [30 + 190 * x // width, 40 + 170 * y // height, (x * 7 + y * 13) % 256, 255 - 100 * x // width]
    return Image.fromarray(np.stack(channels[: len(mode)], axis=-1).astype(np.uint8).squeeze(), mode)


def exif_block(orientation):
    exif = Image.Exif()
    exif[0x0112] = orientation
    return exif.tobytes()  # starts with "Exif\0\0"


def decode(path, strict=False):
    """(samples as H x W x C, orientation, icc, exif, stderr) or (None, stderr)."""
    raw = path + ".raw"
    run = subprocess.run([TOOL, "decode"] + (["--strict"] if strict else []) + [path, raw],
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
    run = subprocess.run([COPY, source, copied], capture_output=True, text=True)
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


with tempfile.TemporaryDirectory() as folder:
    orientation_cases(folder)
    damaged_jpeg_cases(folder)

if failures:
    print(f"{len(failures)} failure(s)")
    sys.exit(1)
print("all passed")
