"""axiswarp.call against the plain model, over random tables, every dtype and both memory orders."""

import threading

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import axiswarp
from model import resample

REAL_DTYPES = [np.bool_, np.float64, np.float32, np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32,
               np.int64, np.uint64]
WEIGHT_PALETTE = [0.0, -0.0, 1.0, -1.0, 0.5, 0.25, 1 / 3, -0.125, 2.5, 1e-300, 1e300, -1e300, np.inf, np.nan]


def random_image(rng, dtype, shape):
    dtype = np.dtype(dtype)
    if dtype == np.bool_:
        return rng.integers(0, 2, shape).astype(bool)
    if dtype.kind == "f":
        values = rng.normal(0, 1e3, shape)
        values.flat[::7] = rng.choice([0.0, -0.0, np.inf, -np.inf, np.nan, 1e38, -3.5e38], values.flat[::7].shape)
        with np.errstate(over="ignore"):
            return values.astype(dtype)
    info = np.iinfo(dtype)
    return rng.integers(info.min, info.max, shape, dtype=dtype, endpoint=True)


@st.composite
def calls(draw):
    dtype = draw(st.sampled_from(REAL_DTYPES))
    planes = draw(st.sampled_from([None, 2, 3]))
    rows, cols = draw(st.integers(1, 6)), draw(st.integers(1, 6))
    shape = (rows, cols) if planes is None else (rows, cols, planes)
    dim = draw(st.sampled_from([1, 2]))
    taps, length = draw(st.integers(0, 4)), draw(st.integers(0, 5))
    extent = rows if dim == 1 else cols
    seed = draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    image = random_image(rng, dtype, shape)
    if draw(st.booleans()):
        image = np.asfortranarray(image)
    pick = rng.integers(0, 3, (taps, length))
    weights = np.where(pick == 0, rng.choice(WEIGHT_PALETTE, (taps, length)), rng.normal(0, 2, (taps, length)))
    # Whole positions and positions with a fraction, which the module truncates.
    indices = rng.integers(1, extent + 1, (taps, length)) + rng.choice([0.0, 0.25, 0.999], (taps, length))
    return image, weights, indices, dim


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(calls())
def test_call_matches_the_model(case):
    image, weights, indices, dim = case
    out = axiswarp.call(image, weights, indices, float(dim))
    expected = resample(image, weights, indices, dim)
    assert out.dtype == expected.dtype
    assert out.shape == expected.shape or out.shape == expected.shape[:2] and expected.shape[2:] == (1,)
    assert same_bits_but_nan_payloads(out, expected)


def same_bits_but_nan_payloads(out, expected):
    """Every sample the same bits, signed zeros included, except that a NaN may be any NaN.

    IEEE arithmetic leaves the sign and payload of a NaN made from an invalid
    operation (inf - inf, 0 * inf) open, and which NaN operand an addition
    passes on depends on the order a compiler gives the operands; the sums
    themselves are otherwise bit for bit the model's.
    """
    got = np.asfortranarray(out).reshape(-1, order="F")
    want = np.asfortranarray(expected).reshape(-1, order="F")
    if got.dtype.kind == "c":
        got = got.view(got.real.dtype)
        want = want.view(want.real.dtype)
    if got.dtype.kind != "f":
        return got.tobytes() == want.tobytes()
    nan = np.isnan(want)
    return bool(np.array_equal(np.isnan(got), nan)) and got[~nan].tobytes() == want[~nan].tobytes()


@pytest.mark.parametrize("dtype", [np.complex128, np.complex64])
def test_complex_images_resize_part_by_part(dtype):
    rng = np.random.default_rng(3)
    image = (rng.normal(size=(5, 4, 2)) + 1j * rng.normal(size=(5, 4, 2))).astype(dtype)
    weights = rng.normal(size=(3, 6))
    indices = rng.integers(1, 5, (3, 6)).astype(float)
    out = axiswarp.call(image, weights, indices, 2)
    assert out.dtype == dtype
    part = np.dtype(dtype).type(0).real.dtype
    real = resample(image.real.astype(part), weights, indices, 2)
    imag = resample(image.imag.astype(part), weights, indices, 2)
    assert out.real.tobytes() == real.tobytes() and out.imag.tobytes() == imag.tobytes()


def test_results_view_the_modules_array_and_fortran_inputs_are_borrowed():
    image = np.asfortranarray(np.arange(24, dtype=np.float64).reshape(4, 6))
    weights, indices = axiswarp.tables(6, 3)
    out = axiswarp.call(image, weights, indices, 2)
    assert out.flags.f_contiguous and not out.flags.owndata
    assert out.base is not None  # kept alive by the host's capsule
    # C order gives the same samples through a reordering copy.
    assert np.array_equal(axiswarp.call(np.ascontiguousarray(image), weights, indices, 2), out)


ERROR_CASES = [
    ("three inputs", lambda im, w, i: (im, w, i), "Ovela:axisWarp:invalidNumInputs"),
    ("five inputs", lambda im, w, i: (im, w, i, 1, 1), "Ovela:axisWarp:invalidNumInputs"),
    ("no inputs", lambda im, w, i: (), "Ovela:axisWarp:invalidNumInputs"),
    ("single weights", lambda im, w, i: (im, w.astype(np.float32), i, 1), "Ovela:axisWarp:badWeights"),
    ("int32 dim", lambda im, w, i: (im, w, i, np.int32(1)), "Ovela:axisWarp:invalidDim"),
    ("transposed indices", lambda im, w, i: (im, w, i.T, 1), "Ovela:axisWarp:sizeMismatch"),
    ("four-dimensional image", lambda im, w, i: (im[..., None, None] * np.ones(2), w, i, 1),
     "Ovela:axisWarp:tooManyDims"),
    ("index past the end", lambda im, w, i: (im, w, i + 10, 1), "Ovela:axisWarp:indexOutOfRange"),
]


@pytest.mark.parametrize("name,arguments,identifier", ERROR_CASES, ids=[c[0] for c in ERROR_CASES])
def test_module_errors_raise_module_error(name, arguments, identifier):
    image = np.ones((4, 3))
    weights = np.ones((2, 5)) / 2
    indices = np.ones((2, 5))
    with pytest.raises(axiswarp.ModuleError) as caught:
        axiswarp.call(*arguments(image, weights, indices))
    assert isinstance(caught.value, ValueError)
    assert caught.value.identifier == identifier
    assert caught.value.message and str(caught.value) == f"{identifier}: {caught.value.message}"


BAD_ARGUMENTS = [
    ("object array", np.array([[1, None]], dtype=object)),
    ("string array", np.array([["a", "b"]])),
    ("float16 array", np.ones((2, 2), dtype=np.float16)),
    ("datetime array", np.array(["2020-01-01"], dtype="datetime64[D]")),
    ("dictionary", {"a": 1}),
    ("huge integer", 10**400),
]


@pytest.mark.parametrize("position", [1, 3])
@pytest.mark.parametrize("name,value", BAD_ARGUMENTS, ids=[c[0] for c in BAD_ARGUMENTS])
def test_inputs_the_host_cannot_hold_raise_type_error_naming_the_argument(name, value, position):
    arguments = [np.ones((2, 2)), np.ones((1, 2)), np.ones((1, 2)), 1]
    arguments[position - 1] = value
    with pytest.raises(TypeError, match=f"argument {position}"):
        axiswarp.call(*arguments)


def test_numbers_scalars_and_odd_layouts_give_the_right_result():
    rng = np.random.default_rng(5)
    base = rng.integers(0, 1000, (9, 8)).astype(np.int16)
    weights = rng.normal(size=(2, 4))
    indices = rng.integers(1, 5, (2, 4)).astype(float)
    expected = resample(base[::-2, 1::2], weights, indices, 2)
    read_only = np.array(base[::-2, 1::2])
    read_only.flags.writeable = False
    layouts = {
        "negative strides": base[::-2, 1::2],
        "read-only": read_only,
        "big-endian": base[::-2, 1::2].astype(">i2"),
        "unaligned": np.frombuffer(b"\0" + base[::-2, 1::2].tobytes(), dtype=np.int16, offset=1).reshape(5, 4),
    }
    for name, image in layouts.items():
        assert axiswarp.call(image, weights, indices, 2.0).tobytes("F") == expected.tobytes("F"), name
    # A 0-d array and a NumPy scalar are 1-by-1 arrays of their type; a Python number is a 1-by-1 double.
    one = axiswarp.call(np.array(7, dtype=np.uint8), np.ones((1, 1)), np.ones((1, 1)), np.float64(1))
    assert one.shape == (1, 1) and one.dtype == np.uint8 and one[0, 0] == 7
    with pytest.raises(axiswarp.ModuleError, match="invalidDim"):
        axiswarp.call(np.ones((2, 2)), np.ones((1, 2)), np.ones((1, 2)), np.float32(1))


def test_calls_from_several_threads_run_at_once_and_agree():
    rng = np.random.default_rng(9)
    image = rng.integers(0, 255, (600, 500, 3), dtype=np.uint8)
    weights, indices = axiswarp.tables(500, 1300, kernel="lanczos3")
    expected = axiswarp.call(image, weights, indices, 2)
    results = [None] * 4

    def work(k):
        results[k] = axiswarp.call(image, weights, indices, 2)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert all(r is not None and np.array_equal(r, expected) for r in results)


@pytest.mark.parametrize("content", [None, b"not a library\n"], ids=["missing", "not a library"])
def test_an_unusable_module_file_fails_the_import_naming_it(tmp_path, content):
    import os
    import subprocess
    import sys

    path = tmp_path / "axisWarpKernel.zupa64"
    if content is not None:
        path.write_bytes(content)
    env = os.environ | {"AXISWARP_MODULE": str(path)}
    failed = subprocess.run([sys.executable, "-c", "import axiswarp"], capture_output=True, text=True, env=env,
                            timeout=60)
    assert failed.returncode != 0
    assert "ImportError" in failed.stderr and str(path) in failed.stderr.splitlines()[-1]
