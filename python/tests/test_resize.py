"""tables and resize against the command line; resize_axis on every axis and order against call."""

import math
import subprocess

import numpy as np
import pytest
from PIL import Image

import axiswarp

TABLE_CASES = [
    (6, 4, {}),
    (100, 7, {"kernel": "lanczos3"}),
    (7, 100, {"kernel": "lanczos2", "border": "replicate"}),
    (33, 10, {"kernel": "triangle", "antialias": False}),
    (10, 33, {"kernel": "box", "scale": 2.5}),
    (5, 5, {"kernel": "nearest"}),
    (1, 9, {"kernel": "cubic"}),
]


def tool_tables(tool, tmp_path, n, m, options):
    argv = [tool, "tables", str(n), str(m)]
    if "kernel" in options:
        argv += ["--kernel", options["kernel"]]
    if options.get("antialias") is False:
        argv.append("--no-antialias")
    if "border" in options:
        argv += ["--border", options["border"]]
    if "scale" in options:
        argv += ["--scale", repr(options["scale"])]
    argv += ["-o", str(tmp_path / "w.npy"), str(tmp_path / "i.npy")]
    subprocess.run(argv, check=True, capture_output=True, timeout=60)
    return np.load(tmp_path / "w.npy"), np.load(tmp_path / "i.npy")


@pytest.mark.parametrize("n,m,options", TABLE_CASES)
def test_tables_are_the_command_lines_bit_for_bit(tool, tmp_path, n, m, options):
    weights, indices = axiswarp.tables(n, m, **options)
    cli_weights, cli_indices = tool_tables(tool, tmp_path, n, m, options)
    assert weights.shape == cli_weights.shape and indices.shape == cli_indices.shape
    assert weights.tobytes("F") == cli_weights.tobytes("F")
    assert indices.tobytes("F") == cli_indices.tobytes("F")


@pytest.mark.parametrize("bad,error", [
    ({"kernel": "bicubic"}, ValueError), ({"border": "periodic"}, ValueError), ({"scale": -1}, ValueError),
    ({"scale": float("nan")}, ValueError), ({"n": 0}, ValueError), ({"n": 2.5}, ValueError),
    ({"m": 2**40}, ValueError),
])
def test_bad_table_requests_are_refused(bad, error):
    arguments = {"n": 6, "m": 4} | bad
    n, m = arguments.pop("n"), arguments.pop("m")
    with pytest.raises(error):
        axiswarp.tables(n, m, **arguments)


RESIZE_CASES = [
    ("gray shrink", "L", (45, 61), (17, 20), {}),
    ("rgb enlarge lanczos3", "RGB", (23, 19), (50, 41), {"kernel": "lanczos3"}),
    ("rgb mixed no antialias", "RGB", (40, 30), (13, 70), {"antialias": False, "kernel": "triangle"}),
    ("rgb precise", "RGB", (31, 37), (12, 15), {"precise": True}),
    ("rgba premultiplied", "RGBA", (29, 33), (11, 70), {}),
    ("gray alpha replicate", "LA", (20, 24), (31, 9), {"border": "replicate"}),
]


@pytest.mark.parametrize("name,mode,size,new,options", RESIZE_CASES, ids=[c[0] for c in RESIZE_CASES])
def test_resize_gives_the_command_lines_bytes(tool, tmp_path, name, mode, size, new, options):
    rng = np.random.default_rng(len(name))
    channels = len(mode)
    pixels = rng.integers(0, 256, size + ((channels,) if channels > 1 else ()), dtype=np.uint8)
    if mode in ("RGBA", "LA"):
        pixels[..., -1][::3] = 0  # transparent rows, whose colour must not bleed
    Image.fromarray(pixels, mode).save(tmp_path / "in.png")
    argv = [tool, "resize", str(tmp_path / "in.png"), "--size", f"{new[1]}x{new[0]}", "-o", str(tmp_path / "out.png")]
    for key in ("kernel", "border"):
        if key in options:
            argv += [f"--{key}", options[key]]
    if options.get("antialias") is False:
        argv.append("--no-antialias")
    if options.get("precise"):
        argv.append("--precise")
    subprocess.run(argv, check=True, capture_output=True, timeout=60)
    expected = np.asarray(Image.open(tmp_path / "out.png"))
    out = axiswarp.resize(pixels, new, **options)
    assert out.dtype == np.uint8 and out.shape == expected.shape
    assert out.tobytes() == np.ascontiguousarray(expected).tobytes()


@pytest.mark.parametrize("dtype,white,light", [(np.uint8, 255, 188), (np.uint16, 65535, 48192),
                                               (np.float32, 1.0, np.float32(0.7353569830524495))])
def test_linear_averages_light_not_codes(dtype, white, light):
    pair = np.array([[[0, 0, 0], [white, white, white]]], dtype=dtype)
    out = axiswarp.resize(pair, (1, 1), kernel="box", linear=True)
    assert out.dtype == dtype and out.shape == (1, 1, 3)
    assert np.all(out == light)
    with pytest.raises(ValueError, match="linear light needs unsigned integer or float samples"):
        axiswarp.resize(pair.astype(np.int16), (1, 1), linear=True)
    with pytest.raises(ValueError, match="linear"):
        axiswarp.resize(np.zeros((2, 2, 5), dtype=dtype), (1, 1), linear=True)


def through_call(a, axis, weights, indices):
    # The same samples as a 2-D host array: the axis first, everything else in columns.
    moved = np.moveaxis(a, axis, 0)
    flat = moved.reshape(moved.shape[0], -1)
    out = axiswarp.call(flat, weights, indices, 1)
    return np.moveaxis(out.reshape((weights.shape[1],) + moved.shape[1:]), 0, axis)


SHAPES = [(7, 5), (4, 6, 3), (3, 5, 2, 4), (2, 3, 4, 3, 2)]
DTYPES = [np.uint8, np.int16, np.float32, np.float64, np.complex64, np.bool_]


@pytest.mark.parametrize("order", ["C", "F"])
@pytest.mark.parametrize("shape", SHAPES, ids=lambda s: f"{len(s)}d")
def test_resize_axis_on_every_axis_and_order_matches_call(shape, order):
    rng = np.random.default_rng(len(shape))
    for dtype in DTYPES:
        a = np.asarray(rng.normal(0, 50, shape) + (1j * rng.normal(0, 50, shape) if dtype == np.complex64 else 0))
        a = (a > 0) if dtype == np.bool_ else a.astype(dtype)
        a = np.array(a, order=order)
        for axis in range(len(shape)):
            weights, indices = axiswarp.tables(shape[axis], shape[axis] + 3, kernel="lanczos2")
            out = axiswarp.resize_axis(a, axis, weights, indices)
            expected = through_call(a, axis, weights, indices)
            assert out.shape == expected.shape and out.dtype == expected.dtype, (dtype, axis)
            assert out.tobytes() == expected.tobytes(), (dtype, axis)
            assert out.flags.c_contiguous if order == "C" else out.flags.f_contiguous
            negative = axiswarp.resize_axis(a, axis - len(shape), weights, indices)
            assert negative.tobytes() == out.tobytes()


def test_contiguous_inputs_are_not_copied_and_odd_views_are():
    a = np.arange(4 * 5 * 6, dtype=np.float64).reshape(4, 5, 6)
    weights, indices = axiswarp.tables(5, 3)
    expected = through_call(a, 1, weights, indices)
    read_only = a.copy()
    read_only.flags.writeable = False
    for view in (a, np.asfortranarray(a), read_only, a[::-1][::-1], a[:, ::-1][:, ::-1].copy()):
        assert axiswarp.resize_axis(view, 1, weights, indices).tobytes() == expected.tobytes()
    strided = a[::2, :, ::-1]
    assert axiswarp.resize_axis(strided, 1, weights, indices).tobytes() == \
        through_call(strided, 1, weights, indices).tobytes()


@pytest.mark.parametrize("make,error", [
    (lambda: (np.array(3.0), 0), ValueError),
    (lambda: (np.ones((3, 3)), 2), np.AxisError),
    (lambda: (np.array([[object()]]), 0), TypeError),
    (lambda: (np.ones((3, 3), dtype=np.float16), 0), TypeError),
    # A broadcast view of 2^50 elements: NumPy refuses larger byte counts itself,
    # and this one cannot be copied into the host's order.
    (lambda: (np.broadcast_to(np.ones(1, np.uint8), (2**20, 2**20, 2**10)), 2), (MemoryError, ValueError)),
])
def test_bad_resize_axis_inputs_raise_clear_errors(make, error):
    array, axis = make()
    weights, indices = axiswarp.tables(3, 2)
    with pytest.raises(error):
        axiswarp.resize_axis(array, axis, weights, indices)


def test_resize_keeps_trailing_axes_and_refuses_bad_requests():
    rng = np.random.default_rng(2)
    volume = rng.normal(size=(20, 16, 3, 2)).astype(np.float32)
    out = axiswarp.resize(volume, (9, 30), kernel="lanczos3")
    assert out.shape == (9, 30, 3, 2) and out.dtype == np.float32
    expected = volume
    for dim, w, i in axiswarp.plan((20, 16), (9, 30), kernel="lanczos3"):
        expected = through_call(expected, dim - 1, w, i)
    assert out.tobytes() == np.ascontiguousarray(expected).tobytes()
    with pytest.raises(ValueError, match="precise"):
        axiswarp.resize(volume, (9, 30), precise=True)
    with pytest.raises(ValueError):
        axiswarp.resize(np.ones(5), (2, 2))
    with pytest.raises(ValueError):
        axiswarp.resize(volume, (0, 3))
    with pytest.raises(ValueError, match="kernel"):
        axiswarp.resize(volume, (3, 3), kernel="bicubic")


@pytest.mark.parametrize("order", ["C", "F"])
def test_contiguous_arrays_reach_the_module_as_views_of_their_memory(monkeypatch, order):
    import axiswarp._resize as resize_module

    seen = []
    real_call = resize_module.call

    def spy(image, *rest):
        seen.append(image)
        return real_call(image, *rest)

    monkeypatch.setattr(resize_module, "call", spy)
    a = np.zeros((4, 5, 6, 3), dtype=np.uint16, order=order)
    weights, indices = axiswarp.tables(6, 2)
    axiswarp.resize_axis(a, 2, weights, indices)
    (image,) = seen
    # The host borrows a Fortran-ordered view of the caller's memory: no copy.
    assert image.flags.f_contiguous and np.shares_memory(image, a) and image.ndim <= 3
