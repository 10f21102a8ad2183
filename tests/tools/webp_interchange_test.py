#!/usr/bin/python3
"""WebP files made by Pillow read through the tool library, and files the
library writes read by Pillow: samples, ICC profile, EXIF, orientation,
and an animated file refused in one line naming it.

Usage: webp_interchange_test.py STREAM_CODEC_TOOL
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

from interchange_support import check, exif_block, failures, picture

TOOL = sys.argv[1]


def decode(path, folder):
    raw = os.path.join(folder, "out.raw")
    run = subprocess.run([TOOL, "decode", path, raw], capture_output=True, text=True)
    if run.returncode != 0:
        return None, run.stderr
    w, h, c, orientation, icc, exif = (int(v) for v in run.stdout.split()[:6])
    samples = np.fromfile(raw, np.uint8).reshape(h, w, c)
    return (samples, orientation, open(raw + ".icc", "rb").read(), open(raw + ".exif", "rb").read()), ""


with tempfile.TemporaryDirectory() as folder:
    icc = bytes(range(256)) * 2
    cases = [
        ("lossy RGB", picture("RGB"), dict(quality=80)),
        ("lossy RGBA", picture("RGBA"), dict(quality=80)),
        ("lossless RGB", picture("RGB"), dict(lossless=True)),
        ("lossless RGBA", picture("RGBA"), dict(lossless=True, exact=True)),
        ("ICC and EXIF", picture("RGB"), dict(quality=90, icc_profile=icc, exif=exif_block(6))),
    ]
    for name, image, options in cases:
        path = os.path.join(folder, name.replace(" ", "_") + ".webp")
        image.save(path, "WEBP", **options)
        decoded, error = decode(path, folder)
        check(decoded is not None, f"{name}: refused: {error}")
        if decoded is None:
            continue
        samples, orientation, icc_read, exif_read = decoded
        with Image.open(path) as pil:
            expected = np.asarray(pil.convert(image.mode))
        check(samples.shape == expected.shape, f"{name}: shape {samples.shape} != Pillow's {expected.shape}")
        if samples.shape == expected.shape:
            worst = int(np.abs(samples.astype(int) - expected.astype(int)).max())
            check(worst == 0, f"{name}: samples differ from Pillow's by up to {worst}")
        if options.get("lossless") and samples.shape == expected.shape:
            check(np.array_equal(samples, np.asarray(image)), f"{name}: lossless samples changed")
        check(icc_read == options.get("icc_profile", b""), f"{name}: ICC profile not kept")
        want_exif = options.get("exif", b"")
        check(exif_read == want_exif[6:] if want_exif.startswith(b"Exif\0\0") else exif_read == want_exif,
              f"{name}: EXIF not kept")
        check(orientation == (6 if want_exif else 1), f"{name}: orientation {orientation}")

    # Written by the library, read by Pillow: lossless gives the samples back.
    for mode in ("RGB", "RGBA"):
        array = np.asarray(picture(mode))
        raw = os.path.join(folder, "in.raw")
        array.tofile(raw)
        out = os.path.join(folder, f"written_{mode}.webp")
        run = subprocess.run([TOOL, "encode", raw, str(array.shape[1]), str(array.shape[0]), str(array.shape[2]), out],
                             capture_output=True, text=True)
        check(run.returncode == 0, f"writing {mode}: {run.stderr}")
        if run.returncode == 0:
            with Image.open(out) as pil:
                check(np.array_equal(np.asarray(pil.convert(mode)), array), f"written {mode}: Pillow reads other samples")

    # An animation is refused, in one line starting with the file's name.
    animated = os.path.join(folder, "animated.webp")
    picture("RGB").save(animated, "WEBP", save_all=True, append_images=[picture("RGB").transpose(Image.FLIP_LEFT_RIGHT)],
                        duration=100)
    decoded, error = decode(animated, folder)
    check(decoded is None and error.startswith(animated + ": ") and "animated" in error and error.count("\n") == 1,
          f"animated file: {error!r}")

print(f"webp interchange: {len(failures)} checks failed" if failures else "webp interchange: every check held")
sys.exit(1 if failures else 0)
