"""What the interchange scripts share: a list of failed checks, a test picture and an EXIF block, made with Pillow."""
import numpy as np
from PIL import Image

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def picture(mode, width=37, height=23):
    """A picture of `mode` ("L", "RGB", "RGBA", ...) whose samples all differ smoothly."""
    y, x = np.mgrid[0:height, 0:width]
    channels = [30 + 190 * x // width, 40 + 170 * y // height, (x * 7 + y * 13) % 256, 255 - 100 * x // width]
    return Image.fromarray(np.stack(channels[: len(mode)], axis=-1).astype(np.uint8).squeeze(), mode)


def exif_block(orientation):
    """An EXIF block holding only the orientation tag; starts with "Exif\\0\\0"."""
    exif = Image.Exif()
    exif[0x0112] = orientation
    return exif.tobytes()
