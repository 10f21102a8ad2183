"""out= on call, resize_axis and resize: the result lands in the caller's array, or the array is refused."""

import numpy as np
import pytest

import axiswarp
import axiswarp._call as call_module


@pytest.fixture
def placements(monkeypatch):
    """Records which host entry each module call went through: 'call_into' writes into out."""
    seen = []
    module = call_module._loaded()

    class Spy:
        def call(self, arguments):
            seen.append("call")
            return module.call(arguments)

        def call_into(self, arguments, target):
            seen.append("call_into")
            return module.call_into(arguments, target)

    monkeypatch.setattr(call_module, "_loaded", lambda: Spy())
    return seen


def image(dtype, shape, order="C", seed=0):
    rng = np.random.default_rng(seed)
    a = rng.normal(0, 100, shape) + (1j * rng.normal(0, 100, shape) if np.dtype(dtype).kind == "c" else 0)
    return np.array((a.real > 0) if dtype == np.bool_ else a.astype(dtype), order=order)


# (what, function computing the result with or without out, input dtype, order)
RESIZE_AXIS = lambda a, **k: axiswarp.resize_axis(a, 1, *axiswarp.tables(a.shape[1], 9), **k)  # noqa: E731
RESIZE = lambda a, **k: axiswarp.resize(a, (4, 9, 2), **k)  # noqa: E731
CALL = lambda a, **k: axiswarp.call(a, *axiswarp.tables(a.shape[1], 9), 2, **k)  # noqa: E731
GOOD = [
    ("call uint8", CALL, np.uint8, "F"),
    ("call bool", CALL, np.bool_, "F"),
    ("resize_axis float32 C", RESIZE_AXIS, np.float32, "C"),
    ("resize_axis int16 F", RESIZE_AXIS, np.int16, "F"),
    ("resize float64 C", RESIZE, np.float64, "C"),
    ("resize uint16 F", RESIZE, np.uint16, "F"),
]


@pytest.mark.parametrize("what,run,dtype,order", GOOD, ids=[g[0] for g in GOOD])
def test_the_result_is_written_into_out(placements, what, run, dtype, order):
    a = image(dtype, (6, 5, 3), order)
    expected = run(a)
    out = np.full(expected.shape, 7, dtype=expected.dtype, order=order)
    placements.clear()
    assert run(a, out=out) is out
    assert out.tobytes("A") == expected.tobytes("A")
    # The last module call created its output in out's memory.
    assert placements[-1] == "call_into"


def test_a_complex_result_is_interleaved_into_out():
    a = image(np.complex64, (6, 5), "F")
    expected = CALL(a)
    out = np.zeros(expected.shape, np.complex64, order="F")
    assert CALL(a, out=out) is out and out.tobytes() == expected.tobytes()


def read_only(shape, dtype, order):
    out = np.zeros(shape, dtype, order=order)
    out.flags.writeable = False
    return out


# (what, make out from the input and the expected result, error)
BAD = [
    ("wrong shape", lambda a, e: np.zeros(e.shape[:-1] + (e.shape[-1] + 1,), e.dtype), ValueError),
    ("wrong dtype", lambda a, e: np.zeros(e.shape, np.float64), TypeError),
    ("Fortran for a C result", lambda a, e: np.zeros(e.shape, e.dtype, order="F"), ValueError),
    ("strided", lambda a, e: np.zeros(e.shape[:-1] + (2 * e.shape[-1],), e.dtype)[..., ::2], ValueError),
    ("read-only", lambda a, e: read_only(e.shape, e.dtype, "C"), ValueError),
    ("a list", lambda a, e: e.tolist(), TypeError),
]


@pytest.mark.parametrize("run", [RESIZE_AXIS, RESIZE], ids=["resize_axis", "resize"])
@pytest.mark.parametrize("what,make,error", BAD, ids=[b[0] for b in BAD])
def test_an_unfit_out_is_refused_before_any_call(placements, run, what, make, error):
    a = image(np.float32, (6, 5, 3), "C") if run is RESIZE_AXIS else image(np.float32, (12, 5, 3), "C")
    expected = run(a)
    out = make(a, expected)
    before = np.array(out, copy=True)
    placements.clear()
    with pytest.raises(error, match="out"):
        run(a, out=out)
    assert placements == []
    assert np.array_equal(np.asarray(out), before)


@pytest.mark.parametrize("run", [RESIZE_AXIS, RESIZE, CALL], ids=["resize_axis", "resize", "call"])
def test_an_out_overlapping_the_input_is_refused(placements, run):
    # The input and out as two overlapping windows of one buffer.
    order = "F" if run is CALL else "C"
    base = image(np.float32, (6 * 5 * 3 + 8 * 9 * 3,), "C")
    a = base[:6 * 5 * 3].reshape((6, 5, 3), order=order)
    shape = run(a).shape
    out = base[60:60 + int(np.prod(shape))].reshape(shape, order=order)
    placements.clear()
    with pytest.raises(ValueError, match="overlaps"):
        run(a, out=out)
    assert placements == []


def test_call_refuses_an_out_in_c_order_for_its_fortran_result():
    a = image(np.int32, (6, 5), "F")
    expected = CALL(a)
    with pytest.raises(ValueError, match="Fortran"):
        CALL(a, out=np.zeros(expected.shape, np.int32, order="C"))
