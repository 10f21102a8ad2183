"""TIFF stacks through the tool: every page by the same tables, as two module calls."""

import subprocess

import numpy as np
import pytest

import axiswarp

tifffile = pytest.importorskip("tifffile")


@pytest.mark.parametrize("dtype", [np.float32, np.float64, np.int16])
def test_each_page_of_a_stack_is_two_module_calls(tool, tmp_path, dtype):
    rng = np.random.default_rng(5)
    pages, rows, cols = 3, 37, 29
    if np.issubdtype(dtype, np.floating):
        stack = rng.normal(0.5, 1.0, (pages, rows, cols)).astype(dtype)  # ringing past both ends
    else:
        stack = rng.integers(-32768, 32767, (pages, rows, cols), dtype=dtype, endpoint=True)
    source, out = tmp_path / "stack.tif", tmp_path / "out.tif"
    tifffile.imwrite(source, stack, photometric="minisblack", compression="zlib")
    subprocess.run([tool, "resize", str(source), "--size", "50x16", "--kernel", "lanczos3", "-o", str(out)],
                   check=True, capture_output=True, timeout=60)
    got = tifffile.imread(out)
    assert got.dtype == dtype and got.shape == (pages, 16, 50)
    with tifffile.TiffFile(out) as tif:
        assert len(tif.pages) == pages and tif.pages[0].compression == 8  # the input's Deflate

    for p in range(pages):
        expected = np.asfortranarray(stack[p])
        for dim, weights, indices in axiswarp.plan((rows, cols), (16, 50), kernel="lanczos3"):
            expected = axiswarp.call(expected, weights, indices, dim)
        assert got[p].tobytes() == np.ascontiguousarray(expected).tobytes(), f"page {p + 1}"


def test_a_stack_cannot_become_a_png_and_compression_can_change(tool, tmp_path):
    stack = np.zeros((2, 8, 8), dtype=np.uint16)
    source = tmp_path / "stack.tif"
    tifffile.imwrite(source, stack, photometric="minisblack")
    refused = subprocess.run([tool, "resize", str(source), "--scale", "0.5", "-o", str(tmp_path / "out.png")],
                             capture_output=True, text=True, timeout=60)
    assert refused.returncode == 2
    assert "the image has 2 pages, and PNG holds one; write it as .tif" in refused.stderr
    assert not (tmp_path / "out.png").exists()
    tifffile.imwrite(tmp_path / "float.tif", np.zeros((8, 8), dtype=np.float32))
    refused = subprocess.run([tool, "resize", str(tmp_path / "float.tif"), "--scale", "0.5", "-o",
                              str(tmp_path / "out.jpg")], capture_output=True, text=True, timeout=60)
    assert refused.returncode == 2
    assert "the image has float32 samples, and JPEG stores 8- or 16-bit unsigned integers" in refused.stderr
    for name, code in (("lzw", 5), ("deflate", 8), ("none", 1)):
        out = tmp_path / f"{name}.tif"
        subprocess.run([tool, "resize", str(source), "--scale", "0.5", "--compression", name, "-o", str(out)],
                       check=True, capture_output=True, timeout=60)
        with tifffile.TiffFile(out) as tif:
            assert [page.compression for page in tif.pages] == [code, code]
