#!/usr/bin/env python3
"""TIFF files between the tool and an independent implementation.

tifffile writes the inputs (every sample type, 1 to 4 channels, strips,
tiles, separate planes, Deflate, stacks, tags) and reads the outputs. It
decodes LZW only with a codec package Debian lacks, so the tool's LZW files
are read back with Pillow instead, for the sample types Pillow holds.

Usage: tiff_interchange_test.py IMAGE_COPY_TOOL AXISWARP
Environment: AXISWARP_TOOL_LAUNCHER, a command the programs are started
through (the emulator of a cross build); AXISWARP_NO_THREADS_REASON, set where
that emulator hangs in programs that start threads, as the tool's resize does.
"""
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import tifffile
from PIL import Image

COPY_TOOL, AXISWARP = sys.argv[1], sys.argv[2]
del sys.argv[1:3]
LAUNCHER = os.environ.get("AXISWARP_TOOL_LAUNCHER", "").split()
NO_THREADS = os.environ.get("AXISWARP_NO_THREADS_REASON")

DTYPES = ["u1", "u2", "u4", "i1", "i2", "i4", "f4", "f8"]
ICC_TAG, ORIENTATION_TAG = 34675, 274


def samples(dtype, shape, seed):
    """Values over the type's whole range; floats with their special values."""
    rng = np.random.default_rng(seed)
    dt = np.dtype(dtype)
    if dt.kind == "f":
        a = rng.normal(0, 1e4, size=shape).astype(dt)
        flat = a.reshape(-1)
        flat[:4] = [np.inf, -0.0, np.nan, np.finfo(dt).tiny / 2]
        return a
    info = np.iinfo(dt)
    return rng.integers(info.min, info.max, size=shape, endpoint=True, dtype=dt)


def same(a, b):
    """Bit for bit, so that NaN equals NaN and -0 differs from 0."""
    a, b = np.ascontiguousarray(a), np.ascontiguousarray(b)
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


def write_tiff(path, data, channels, layout, compression, **extra):
    """data: (pages, h, w, c). Writes it with tifffile in the given layout."""
    options = dict(photometric="rgb" if channels >= 3 else "minisblack", compression=compression)
    if channels in (2, 4):
        options["extrasamples"] = ["unassalpha"]
    if layout == "tiles":
        options["tile"] = (16, 16)
    else:
        options["rowsperstrip"] = 5
    if compression == "zlib" and data.dtype.kind in "ui":
        options["predictor"] = True
    with tifffile.TiffWriter(path) as tif:
        for page in data:
            if channels == 1:
                page = page[..., 0]
            elif layout == "separate":
                page = np.moveaxis(page, -1, 0)
                options["planarconfig"] = "separate"
            tif.write(page, **options, **extra)


def read_tiff(path):
    """(pages, h, w, c) as tifffile reads it, and the first page's tags."""
    with tifffile.TiffFile(path) as tif:
        pages = []
        for page in tif.pages:
            a = page.asarray()
            if page.planarconfig == 2 and a.ndim == 3:
                a = np.moveaxis(a, 0, -1)
            pages.append(a.reshape(a.shape[0], a.shape[1], -1))
        first = tif.pages[0]
        tags = {tag.code: tag.value for tag in first.tags}
        return np.stack(pages), tags, first.compression


def run(*args):
    result = subprocess.run([*LAUNCHER, *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(args)} exited {result.returncode}: {result.stderr}")
    return result.stderr


class Temp(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="axiswarp-tiff-")
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)


class CopiedThroughTheCodec(Temp):
    def test_every_sample_type_channel_count_layout_and_compression(self):
        for dtype in DTYPES:
            for channels in (1, 2, 3, 4):
                for layout in ("strips", "tiles", "separate"):
                    for compression in (None, "zlib"):
                        if layout == "separate" and channels == 1:
                            continue
                        with self.subTest(dtype=dtype, channels=channels, layout=layout, compression=compression):
                            # 37x45: partial strips and partial tiles at both edges.
                            data = samples(dtype, (1, 37, 45, channels), len(dtype) + channels)
                            write_tiff(self.path("in.tif"), data, channels, layout, compression)
                            run(COPY_TOOL, self.path("in.tif"), self.path("out.tif"))
                            back, _, stored = read_tiff(self.path("out.tif"))
                            self.assertTrue(same(back, data))
                            self.assertEqual(int(stored), 8 if compression else 1)

    def test_stack_keeps_every_page(self):
        data = samples("f4", (3, 20, 30, 1), 7)
        write_tiff(self.path("stack.tif"), data, 1, "strips", "zlib")
        run(COPY_TOOL, self.path("stack.tif"), self.path("out.tif"))
        back, _, _ = read_tiff(self.path("out.tif"))
        self.assertTrue(same(back, data))

    def test_profile_bytes_and_orientation_tag_kept(self):
        profile = bytes((i * 37) % 256 for i in range(3000))
        data = samples("u2", (1, 8, 6, 3), 8)
        write_tiff(self.path("in.tif"), data, 3, "strips", None,
                   extratags=[(ICC_TAG, "B", len(profile), profile, True), (ORIENTATION_TAG, "H", 1, 6, True)])
        run(COPY_TOOL, self.path("in.tif"), self.path("out.tif"))
        back, tags, _ = read_tiff(self.path("out.tif"))
        self.assertTrue(same(back, data))
        self.assertEqual(bytes(tags[ICC_TAG]), profile)
        self.assertEqual(int(tags[ORIENTATION_TAG]), 6)

    def test_lzw_output_read_by_pillow(self):
        cases = [("u1", 1, "L"), ("u1", 3, "RGB"), ("u1", 4, "RGBA"), ("u2", 1, "I;16"), ("i4", 1, "I"), ("f4", 1, "F")]
        for dtype, channels, mode in cases:
            with self.subTest(dtype=dtype, channels=channels):
                data = samples(dtype, (1, 70, 300, channels), 9)
                if dtype == "f4":
                    data = np.nan_to_num(data, posinf=1.0)  # compared by value below
                write_tiff(self.path("in.tif"), data, channels, "strips", None)
                run(COPY_TOOL, self.path("in.tif"), self.path("out.tif"), "lzw")
                with Image.open(self.path("out.tif")) as im:
                    self.assertEqual(im.mode, mode)
                    got = np.asarray(im).reshape(70, 300, channels).astype(data.dtype)
                self.assertTrue(np.array_equal(got, data[0]))

    def test_unsupported_files_refused_naming_them(self):
        cases = [
            ("lab.tif", dict(data=np.zeros((4, 4, 3), "u1"), photometric="cielab"), "Lab colour"),
            ("half.tif", dict(data=np.zeros((4, 4), "f2")), "float samples of 16 bits"),
            ("cmyk-alpha.tif", dict(data=np.zeros((6, 7, 5), "u1"), photometric="separated", planarconfig="contig",
                                    extrasamples=[2]),
             "separated colour other than CMYK of four channels"),
            ("complex.tif", dict(data=np.zeros((4, 4), "c8")), "complex samples"),
        ]
        for name, arguments, message in cases:
            with self.subTest(name=name):
                tifffile.imwrite(self.path(name), **arguments)
                result = subprocess.run([*LAUNCHER, COPY_TOOL, self.path(name), self.path("out.tif")],
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, 1)
                self.assertTrue(result.stderr.startswith(self.path(name) + ": "), result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(self.path("out.tif")))


@unittest.skipIf(NO_THREADS, NO_THREADS)  # the tool's resize starts its worker threads
class ResizedByTheTool(Temp):
    def test_16_bit_tiff_resized_exactly_like_the_same_16_bit_png(self):
        for channels in (1, 3, 4):
            with self.subTest(channels=channels):
                data = samples("u2", (1, 41, 57, channels), 10 + channels)
                write_tiff(self.path("in.tif"), data, channels, "tiles", "zlib")
                run(COPY_TOOL, self.path("in.tif"), self.path("in.png"))
                if channels == 1:  # the PNG holds the same samples, as Pillow reads them
                    with Image.open(self.path("in.png")) as im:
                        self.assertTrue(np.array_equal(np.asarray(im), data[0, ..., 0]))
                for source in ("in.tif", "in.png"):
                    run(AXISWARP, "resize", self.path(source), "--scale", "0.45", "--kernel", "lanczos3",
                        "-o", self.path(source + ".out.png"))
                with open(self.path("in.tif.out.png"), "rb") as a, open(self.path("in.png.out.png"), "rb") as b:
                    self.assertEqual(a.read(), b.read())

    def test_8_bit_tiff_at_scale_one_with_nearest_keeps_its_samples(self):
        # RGB: with alpha, the tool resamples colour premultiplied, which
        # rounds where alpha is small.
        data = samples("u1", (1, 23, 31, 3), 12)
        write_tiff(self.path("in.tif"), data, 3, "separate", "zlib")
        run(AXISWARP, "resize", self.path("in.tif"), "--scale", "1", "--kernel", "nearest", "-o", self.path("out.png"))
        with Image.open(self.path("out.png")) as im:
            self.assertTrue(np.array_equal(np.asarray(im), data[0]))

    def test_every_sample_type_and_stack_through_resize_at_scale_one(self):
        for dtype in DTYPES:
            for channels in (1, 2, 3, 4):
                with self.subTest(dtype=dtype, channels=channels):
                    data = samples(dtype, (2, 19, 27, channels), 13)
                    if channels in (2, 4):
                        # Opaque, so that resampling premultiplied by alpha
                        # gives the colour back exactly.
                        data[..., -1] = 1 if data.dtype.kind == "f" else np.iinfo(data.dtype).max
                    write_tiff(self.path("in.tif"), data, channels, "strips", "zlib")
                    run(AXISWARP, "resize", self.path("in.tif"), "--scale", "1", "--kernel", "nearest",
                        "-o", self.path("out.tif"))
                    back, _, stored = read_tiff(self.path("out.tif"))
                    # By value: the module's sums turn -0 into +0.
                    self.assertEqual(back.dtype, data.dtype)
                    self.assertTrue(np.array_equal(back, data, equal_nan=data.dtype.kind == "f"))
                    self.assertEqual(int(stored), 8)

if __name__ == "__main__":
    unittest.main(verbosity=1)
