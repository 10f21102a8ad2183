"""Borders against their namesakes in NumPy and SciPy, and the constant border's exactness."""

import subprocess

import numpy as np
import pytest
import scipy.ndimage

import axiswarp

# Ours -> numpy.pad mode and scipy.ndimage interpolation mode.
NUMPY_PAD = {"symmetric": "symmetric", "reflect": "symmetric", "mirror": "reflect", "replicate": "edge",
             "wrap": "wrap", "constant": "constant"}
SCIPY_MODE = {"symmetric": "reflect", "reflect": "reflect", "mirror": "mirror", "replicate": "nearest",
              "wrap": "grid-wrap", "constant": "grid-constant"}


@pytest.mark.parametrize("border", axiswarp.BORDERS)
@pytest.mark.parametrize("n", [1, 2, 3, 5])
def test_far_positions_fold_as_numpy_pad_extends(border, n):
    # Nearest at an explicit scale of 1/7 puts the positions p = floor(u + 1/2)
    # up to seven lengths past the end; the index each one takes is what
    # numpy.pad puts there when padding the positions 1..n themselves (the
    # fill sample n + 1 for the constant border).
    m, scale = 9, 1 / 7
    weights, indices = axiswarp.tables(n, m, kernel="nearest", border=border, scale=scale,
                                       cval=1.0 if border == "constant" else 0.0)
    p = np.floor((np.arange(1, m + 1) - 0.5) / scale + 0.5 + 0.5).astype(int)
    pad = int(p.max()) + 1
    options = {"constant_values": n + 1} if border == "constant" else {}
    extended = np.pad(np.arange(1, n + 1), pad, mode=NUMPY_PAD[border], **options)
    assert indices.shape == (1, m) and np.all(weights == 1)
    assert indices[0].tolist() == extended[p - 1 + pad].tolist()


@pytest.mark.parametrize("border", axiswarp.BORDERS)
@pytest.mark.parametrize("n,m", [(7, 19), (12, 5), (5, 5), (2, 9)])
def test_triangle_tables_agree_with_scipy_zoom_order_1(border, n, m):
    # Linear interpolation needs no spline prefilter, so scipy's zoom with
    # grid_mode (pixel-edge geometry, as ours) and the matching mode is the
    # same weighted sum up to rounding.
    x = np.random.default_rng(n * 100 + m).normal(0, 10, n)
    cval = -3.25 if border == "constant" else 0.0
    weights, indices = axiswarp.tables(n, m, kernel="triangle", antialias=False, border=border, cval=cval)
    source = np.append(x, cval) if indices.max() == n + 1 else x
    ours = axiswarp.resize_axis(source, 0, weights, indices)
    theirs = scipy.ndimage.zoom(x, m / n, order=1, mode=SCIPY_MODE[border], grid_mode=True, cval=cval)
    np.testing.assert_allclose(ours, theirs, rtol=0, atol=1e-12)


def model_pass(a, axis, weights, indices, cval, dtype):
    # The plain definition in float64: each output a left-to-right sum over
    # the taps from +0.0, the fill sample appended, then the module's rounding.
    moved = np.moveaxis(a, axis, 0).astype(np.float64)
    if indices.max() == moved.shape[0] + 1:
        moved = np.concatenate([moved, np.full((1,) + moved.shape[1:], cval, dtype=np.float64)])
    out = np.zeros((weights.shape[1],) + moved.shape[1:])
    for t in range(weights.shape[0]):
        w = weights[t].reshape((-1,) + (1,) * (moved.ndim - 1))
        out = out + w * moved[indices[t].astype(int) - 1]
    if np.dtype(dtype).kind in "iu":
        info = np.iinfo(dtype)
        out = np.clip(np.where(out >= 0, np.floor(out + 0.5), np.ceil(out - 0.5)), info.min, info.max)
    return np.moveaxis(out.astype(dtype), 0, axis)


@pytest.mark.parametrize("dtype,cval", [(np.float64, 0.0), (np.float64, -2.5), (np.float64, np.nan),
                                        (np.float32, 7.1), (np.uint8, 250), (np.int16, -300),
                                        (np.uint8, 0)])
@pytest.mark.parametrize("kernel", ["cubic", "lanczos3"])
def test_constant_resize_equals_the_plain_float64_model(dtype, cval, kernel):
    rng = np.random.default_rng(3)
    a = rng.normal(100, 60, (9, 14, 3))  # three channels: the class path
    a = a.astype(dtype) if np.dtype(dtype).kind == "f" else np.clip(a, 0, 255).astype(dtype)
    held = np.array(cval).astype(dtype)[()]
    out = axiswarp.resize(a, (20, 5), kernel=kernel, border="constant", cval=cval)
    expected = a
    passes = axiswarp.plan(a.shape[:2], (20, 5), kernel=kernel, border="constant", cval=cval)
    assert any(i.max() == a.shape[dim - 1] + 1 for dim, _, i in passes) == (cval != 0)
    for dim, weights, indices in passes:
        expected = model_pass(expected, dim - 1, weights, indices, held, dtype)
    assert out.dtype == expected.dtype and out.shape == expected.shape
    assert out.tobytes() == expected.tobytes()


def test_fill_zero_drops_its_taps_without_changing_a_bit():
    # Non-finite samples away from the edge too: dropping the taps of 0
    # changes nothing anywhere, since the kept weights are the same.
    x = np.random.default_rng(5).normal(0, 1e3, (11, 6))
    x[5, 2] = np.inf
    zero_w, zero_i = axiswarp.tables(11, 23, kernel="lanczos3", border="constant")
    fill_w, fill_i = axiswarp.tables(11, 23, kernel="lanczos3", border="constant", cval=1.0)
    assert zero_i.max() <= 11 and fill_i.max() == 12
    padded = np.concatenate([x, np.zeros((1, 6))])
    dropped = axiswarp.resize_axis(x, 0, zero_w, zero_i)
    kept = axiswarp.resize_axis(padded, 0, fill_w, fill_i)
    assert dropped.tobytes() == kept.tobytes()


def test_constant_border_on_the_image_pipeline_fills_colour_and_alpha():
    # RGBA goes through the double path, premultiplied: a fill of 0 is
    # transparent black, so the opaque image keeps its colour and fades at
    # the edges; a fill equal to the image leaves it as it is.
    rgba = np.full((6, 7, 4), 200, dtype=np.uint8)
    rgba[..., 3] = 255
    faded = axiswarp.resize(rgba, (12, 14), kernel="triangle", border="constant")
    assert np.all(faded[..., :3] == 200)
    assert faded[0, 0, 3] < 255 and faded[6, 7, 3] == 255
    grey = np.full((6, 7, 3), 200, dtype=np.uint8)
    assert np.all(axiswarp.resize(grey, (12, 14), border="constant", cval=200, precise=True) == 200)


@pytest.mark.parametrize("options,error,match", [
    ({"border": "wrap", "cval": 1}, ValueError, "cval applies to border='constant'"),
    ({"border": "constant", "cval": 256}, ValueError, "not a value of uint8"),
    ({"border": "constant", "cval": 0.5}, ValueError, "not a value of uint8"),
    ({"border": "constant", "cval": True}, TypeError, "real number"),
    ({"border": "constant", "cval": "0"}, TypeError, "real number"),
    ({"border": "edge"}, ValueError, "valid border modes: symmetric, replicate, reflect, mirror, wrap, constant"),
])
def test_bad_borders_and_fills_are_refused(options, error, match):
    with pytest.raises(error, match=match):
        axiswarp.resize(np.zeros((4, 4), dtype=np.uint8), (8, 8), **options)


@pytest.mark.parametrize("border,cval", [("wrap", None), ("mirror", None), ("constant", None), ("constant", -1.5)])
def test_command_line_tables_take_the_same_border_and_fill(tool, tmp_path, border, cval):
    argv = [tool, "tables", "6", "13", "--border", border, "-o", str(tmp_path / "w.npy"), str(tmp_path / "i.npy")]
    if cval is not None:
        argv += ["--fill", repr(cval)]
    subprocess.run(argv, check=True, capture_output=True, timeout=60)
    weights, indices = axiswarp.tables(6, 13, border=border, cval=cval or 0.0)
    assert np.load(tmp_path / "w.npy").tobytes("F") == weights.tobytes("F")
    assert np.load(tmp_path / "i.npy").tobytes("F") == indices.tobytes("F")
