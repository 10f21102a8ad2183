"""Photos come out upright: every EXIF orientation, against Pillow's reading of the tag."""

import subprocess

import numpy as np
import pytest
from PIL import Image, ImageOps

ORIENTATION = 0x0112

# (suffix, Pillow mode, array maker): lossless PNG in colour and at 16 bits;
# gray JPEG, which both decoders turn into the same samples (no chroma
# upsampling to differ in). Pillow reads 16-bit PNG samples as 32-bit "I".
SOURCES = [
    (".png", "RGB", lambda rng: rng.integers(0, 256, (5, 7, 3), dtype=np.uint8)),
    (".png", "I", lambda rng: rng.integers(0, 65536, (6, 9), dtype=np.uint16)),
    (".jpg", "L", lambda rng: rng.integers(0, 256, (16, 24), dtype=np.uint8)),
]


@pytest.mark.parametrize("orientation", range(1, 9))
@pytest.mark.parametrize("suffix,mode,make", SOURCES, ids=["png-rgb", "png-16", "jpeg-gray"])
def test_every_orientation_comes_out_as_pillow_turns_it(tool, tmp_path, orientation, suffix, mode, make):
    stored = make(np.random.default_rng(orientation))
    source = tmp_path / ("stored" + suffix)
    exif = Image.Exif()
    exif[ORIENTATION] = orientation
    Image.fromarray(stored).save(source, exif=exif.tobytes(), **({"quality": 95} if suffix == ".jpg" else {}))
    with Image.open(source) as im:
        assert im.mode == mode
        expected = np.asarray(ImageOps.exif_transpose(im))

    out = tmp_path / "upright.png"
    argv = [tool, "resize", str(source), "-o", str(out), "--scale", "1", "--kernel", "nearest"]
    subprocess.run(argv, check=True, capture_output=True, timeout=60)
    with Image.open(out) as im:
        got = np.asarray(im)
        assert im.getexif().get(ORIENTATION, 1) == 1
    assert got.shape == expected.shape
    np.testing.assert_array_equal(got, expected)
