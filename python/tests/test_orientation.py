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


def _profile(kind):
    from PIL import ImageCms
    return ImageCms.ImageCmsProfile(ImageCms.createProfile(kind)).tobytes()


def _resize(tool, source, out, *flags):
    argv = [tool, "resize", str(source), "-o", str(out), "--scale", "0.5", *flags]
    return subprocess.run(argv, check=True, capture_output=True, text=True, timeout=60)


def test_profiles_and_orientation_through_the_tool(tool, tmp_path):
    """A portrait phone photo: stored sideways with orientation 6 and a profile."""
    rng = np.random.default_rng(3)
    stored = rng.integers(0, 256, (40, 60, 3), dtype=np.uint8)  # 60 wide, 40 high as stored
    exif = Image.Exif()
    exif[ORIENTATION] = 6
    srgb = _profile("sRGB")
    source = tmp_path / "phone.jpg"
    Image.fromarray(stored).save(source, exif=exif.tobytes(), icc_profile=srgb, quality=95)

    cases = [
        # flags, size (width, height) of the output, orientation it says, profile kept
        ((), (20, 30), 1, True),
        (("--no-auto-orient",), (30, 20), 6, True),
        (("--strip",), (20, 30), 1, False),
        (("--strip", "--no-auto-orient"), (30, 20), 6, False),
    ]
    for suffix in (".jpg", ".png"):
        for flags, size, orientation, kept in cases:
            out = tmp_path / ("out" + suffix)
            run = _resize(tool, source, out, *flags)
            assert run.stderr == "", flags
            with Image.open(out) as im:
                assert im.size == size, (suffix, flags)
                assert im.getexif().get(ORIENTATION, 1) == orientation, (suffix, flags)
                assert im.info.get("icc_profile") == (srgb if kept else None), (suffix, flags)


def test_linear_warns_only_for_a_profile_that_is_not_srgb(tool, tmp_path):
    pixels = np.zeros((4, 4, 3), dtype=np.uint8)
    for kind, warned in (("sRGB", False), ("LAB", True)):
        # JPEG, which keeps any profile; libpng drops one whose colour space
        # is not the image's.
        source = tmp_path / f"{kind}.jpg"
        Image.fromarray(pixels).save(source, icc_profile=_profile(kind))
        run = _resize(tool, source, tmp_path / "out.png", "--linear")
        assert ("is not sRGB, and --linear decodes the samples as sRGB" in run.stderr) == warned, run.stderr
        if warned:
            assert "'Lab identity built-in'" in run.stderr
