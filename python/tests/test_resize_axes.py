"""resize of any axes, by shape or zoom: pass order, rounding of zoom lengths, strict arguments, memory order."""

import subprocess
from fractions import Fraction

import numpy as np
import pytest
from PIL import Image

import axiswarp

# (input shape, dtype, shape=, axes=, zoom=)
AXES_CASES = [
    ((16, 12, 10), np.float32, (8, 6, 5), None, None),
    ((16, 12, 10), np.uint8, None, None, 0.5),
    ((9, 20, 21), np.int16, (30, 7), (2, 0), None),
    ((5, 7, 6, 4), np.float64, None, (1, 3), (2.5, 0.5)),
    ((40, 8, 8), np.uint16, (3,), (-3,), None),
    ((6, 11), np.complex64, (6, 4), None, None),
    ((10, 10, 3), np.bool_, (4, 25), (0, 1), None),
]


def chain(a, in_shape, axes, lengths, **options):
    # The documented order: the smallest ratio new/old first, equal ratios in axis order.
    order = sorted(zip(axes, lengths), key=lambda p: (Fraction(p[1], in_shape[p[0]]), p[0]))
    for axis, length in order:
        a = axiswarp.resize_axis(a, axis, *axiswarp.tables(in_shape[axis], length, **options))
    return a


@pytest.mark.parametrize("order", ["C", "F"])
@pytest.mark.parametrize("in_shape,dtype,shape,axes,zoom", AXES_CASES)
def test_resize_is_the_chain_of_resize_axis_calls(in_shape, dtype, shape, axes, zoom, order):
    rng = np.random.default_rng(sum(in_shape))
    a = rng.normal(0, 100, in_shape) + (1j * rng.normal(0, 100, in_shape) if np.dtype(dtype).kind == "c" else 0)
    a = np.array((a.real > 0) if dtype == np.bool_ else a.astype(dtype), order=order)
    out = axiswarp.resize(a, shape, axes=axes, zoom=zoom, kernel="lanczos2")
    named = [x % a.ndim for x in axes] if axes is not None else list(range(len(shape) if shape else a.ndim))
    lengths = shape if shape is not None else [
        max(1, int(np.floor(in_shape[x] * z + 0.5))) for x, z in zip(named, np.broadcast_to(zoom, len(named)))]
    expected = chain(a, in_shape, named, lengths, kernel="lanczos2")
    assert out.shape == expected.shape and out.dtype == expected.dtype
    assert out.tobytes() == expected.tobytes()
    assert out.flags.c_contiguous if order == "C" else out.flags.f_contiguous
    passes = axiswarp.plan(in_shape, shape, axes=axes, zoom=zoom, kernel="lanczos2")
    assert [dim - 1 for dim, _, _ in passes] == [x for x, _ in sorted(
        zip(named, lengths), key=lambda p: (Fraction(p[1], in_shape[p[0]]), p[0]))]


@pytest.mark.parametrize("size,scale", [((5, 3), 0.5), ((7, 9), 0.1), ((5, 11), 0.3), ((13, 6), 1.75),
                                        ((3, 3), 2.5), ((1, 2), 0.2), ((10, 30), 0.05)])
def test_zoom_lengths_are_the_command_lines_scale_lengths(tool, tmp_path, size, scale):
    pixels = np.arange(size[0] * size[1], dtype=np.uint8).reshape(size)
    Image.fromarray(pixels, "L").save(tmp_path / "in.png")
    subprocess.run([tool, "resize", str(tmp_path / "in.png"), "--scale", repr(scale), "-o", str(tmp_path / "o.png")],
                   check=True, capture_output=True, timeout=60)
    expected = np.asarray(Image.open(tmp_path / "o.png"))
    out = axiswarp.resize(pixels, zoom=scale)
    assert out.shape == expected.shape and out.tobytes() == np.ascontiguousarray(expected).tobytes()


@pytest.mark.parametrize("arguments,error,match", [
    ({"antialias": "no"}, TypeError, "antialias"),
    ({"antialias": 1}, TypeError, "antialias"),
    ({"precise": "yes"}, TypeError, "precise"),
    ({"linear": None}, TypeError, "linear"),
    ({"shape": (2**63, 4)}, ValueError, r"shape\[0\]"),
    ({"shape": (4, -1)}, ValueError, r"shape\[1\]"),
    ({"shape": (4, 2.5)}, ValueError, r"shape\[1\]"),
    ({"shape": (4, True)}, ValueError, r"shape\[1\]"),
    ({"shape": (4, 4, 4, 4)}, ValueError, "only 3 axes"),
    ({"shape": (4, 4), "axes": (0, 0)}, ValueError, "twice"),
    ({"shape": (4, 4), "axes": (0,)}, ValueError, "2 values for 1 axes"),
    ({"shape": (4, 4), "zoom": 2}, TypeError, "one of the two"),
    ({"shape": None}, TypeError, "one of the two"),
    ({"shape": None, "zoom": 0}, ValueError, "zoom"),
    ({"shape": None, "zoom": float("nan")}, ValueError, "zoom"),
    ({"shape": None, "zoom": (1, 2, "3")}, ValueError, r"zoom\[2\]"),
    ({"shape": None, "zoom": 2.0**40}, ValueError, "zoom"),
    ({"shape": (4, 4), "kernel": 3}, TypeError, "kernel"),
    ({"shape": (4, 4), "axes": (0, 2), "precise": True}, ValueError, "axes 0 and 1"),
])
def test_bad_arguments_are_refused_naming_them(arguments, error, match):
    arguments = {"shape": (4, 4)} | arguments
    with pytest.raises(error, match=match):
        axiswarp.resize(np.ones((6, 6, 3), np.uint8), arguments.pop("shape"), **arguments)


@pytest.mark.parametrize("shape,axes", [((0, 5), None), ((5, 0), (0,)), ((3, 0, 2), (0, 2))])
def test_an_empty_input_is_named_as_the_input(shape, axes):
    with pytest.raises(ValueError, match="the input is empty"):
        axiswarp.resize(np.ones(shape), (3,) * (len(axes) if axes else 2), axes=axes)
    with pytest.raises(ValueError, match="the input is empty"):
        axiswarp.resize_axis(np.ones(shape), 0, *axiswarp.tables(3, 2))


@pytest.mark.parametrize("channels,options", [(1, {}), (4, {}), (2, {}), (3, {"precise": True}),
                                              (3, {"linear": True}), (4, {"linear": True})])
@pytest.mark.parametrize("order", ["C", "F"])
def test_every_path_keeps_the_memory_order(channels, options, order):
    image = np.array(np.random.default_rng(channels).integers(0, 256, (9, 7, channels), np.uint8), order=order)
    out = axiswarp.resize(image, (5, 11), **options)
    assert out.flags.c_contiguous if order == "C" else out.flags.f_contiguous
    assert np.array_equal(out, axiswarp.resize(np.asfortranarray(image), (5, 11), **options))
