"""The constant border's fill value, and the fill sample its tables name.

Tables for ``border="constant"`` with a fill other than 0 name one index past
the axis, n + 1: a sample holding the fill, which the caller appends to the
axis. The module then sums it like any other sample, so the result is the
module's exact sum over the extended axis. A fill of 0 needs no such sample:
its taps are left out of the tables, which adds nothing but a signed zero to
a sum that can never be -0 (see ``axiswarp.tables``).
"""

from __future__ import annotations

import numbers

import numpy as np


def fill_value(cval, border) -> float:
    """``cval`` checked against ``border``, as the float the table builder takes."""
    if isinstance(cval, (bool, np.bool_)) or not isinstance(cval, numbers.Real):
        raise TypeError(f"cval must be a real number, not {type(cval).__name__}")
    if cval != 0 and border != "constant":
        raise ValueError(f"cval applies to border='constant', not to border={border!r}")
    return float(cval)


def held_fill(cval, dtype: np.dtype):
    """The fill as a scalar of ``dtype``: floats round to nearest, an integer
    (or bool) dtype must hold the value exactly; ValueError otherwise."""
    dtype = np.dtype(dtype)
    if dtype.kind in "fc":
        with np.errstate(over="ignore"):
            return np.array(cval).astype(dtype)[()]
    exact = False
    if isinstance(cval, numbers.Integral) or (np.isfinite(cval) and float(cval).is_integer()):
        whole = int(cval)
        exact = (np.iinfo(dtype).min <= whole <= np.iinfo(dtype).max) if dtype.kind in "iu" else whole in (0, 1)
    if not exact:
        what = "0 or 1" if dtype.kind == "b" else f"a whole number from {np.iinfo(dtype).min} to {np.iinfo(dtype).max}"
        raise ValueError(f"cval {cval!r} is not a value of {dtype} samples ({what})")
    return np.array(int(cval)).astype(dtype)[()]


def names_fill_sample(indices, n: int) -> bool:
    """Whether the tables' indices name the fill sample n + 1."""
    return indices.size > 0 and float(np.max(indices)) >= n + 1


def with_fill_sample(array: np.ndarray, axis: int, indices, cval) -> np.ndarray:
    """``array`` with one sample of ``cval`` appended along ``axis`` when the
    tables name it, else ``array`` itself. The copy keeps the array's memory
    order, so that ``resize_axis`` still makes one call without another copy."""
    n = array.shape[axis]
    if not names_fill_sample(indices, n):
        return array
    shape = list(array.shape)
    shape[axis] = n + 1
    order = "F" if array.flags.f_contiguous and not array.flags.c_contiguous else "C"
    extended = np.empty(shape, dtype=array.dtype, order=order)
    inside = [slice(None)] * array.ndim
    inside[axis] = slice(0, n)
    extended[tuple(inside)] = array
    inside[axis] = n
    extended[tuple(inside)] = held_fill(cval, array.dtype)
    return extended
