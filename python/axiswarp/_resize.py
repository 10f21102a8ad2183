"""Tables and resizing on N-dimensional NumPy arrays, through the same code as the command line."""

from __future__ import annotations

import math
import operator

import numpy as np

from . import _fill, _native
from ._call import _loaded, call, check_dtype

KERNELS = ("nearest", "box", "triangle", "cubic", "lanczos2", "lanczos3")
BORDERS = ("symmetric", "replicate", "reflect", "mirror", "wrap", "constant")


def _length(value, what: str) -> int:
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be a whole number, not {type(value).__name__}") from None
    if value < 1:
        raise ValueError(f"{what} must be at least 1, not {value}")
    return value


def tables(n, m, *, kernel="cubic", antialias=True, border="symmetric", scale=None, cval=0.0):
    """Return ``(weights, indices)``: the K-by-m tables that resize a length ``n`` to ``m``.

    The same tables as ``axiswarp tables N M``, bit for bit: both ``float64``,
    Fortran-ordered, column j holding the K weights and one-based source
    positions of output sample j. ``kernel`` is one of ``KERNELS``, ``border``
    one of ``BORDERS``; ``scale`` defaults to m/n. Shrinking with
    ``antialias`` stretches the kernel by 1/scale.

    ``border="constant"`` puts ``cval`` beyond the edge. With a ``cval`` other
    than 0 the positions outside name index n + 1, a fill sample: append one
    sample holding ``cval`` to the axis before applying the tables (``resize``
    does it itself). With 0 the indices stay within 1..n and the result is
    exactly that of the fill sample: the term left out is w * 0, a signed
    zero, and adding a zero never changes a sum that starts from +0.
    """
    n = _length(n, "n")
    m = _length(m, "m")
    if scale is None:
        scale = 0.0  # the tool's "m/n"
    else:
        scale = float(scale)
        if not (math.isfinite(scale) and scale > 0):
            raise ValueError(f"scale must be a positive finite number, not {scale}")
    return _native.tables(n, m, str(kernel), bool(antialias), str(border), scale,
                          _fill.fill_value(cval, border))


def _normalise_axis(axis, ndim: int) -> int:
    axis = operator.index(axis)
    if not -ndim <= axis < ndim:
        raise np.AxisError(axis, ndim)
    return axis % ndim


def resize_axis(array, axis, weights, indices):
    """Resize one axis of an N-dimensional array with K-by-L tables.

    ``array`` may have any number of dimensions (at least 1) and any dtype in
    ``axiswarp.DTYPES``; ``axis`` may be negative. The array's memory is seen
    as a column-major array of at most three extents in which the resized axis
    is dimension 1 or 2: everything faster than the axis collapsed into one
    extent, everything slower into another. For a C- or Fortran-contiguous
    array that is one module call and no copy of the input; other layouts are
    copied once to C order first. The result has the array's shape with
    ``shape[axis] = L``, the same memory order as the input (C for anything
    not Fortran-contiguous), and the module's output dtype (``uint8`` for
    ``bool``). It is bit-identical to resizing the same samples through
    ``call``.
    """
    a = np.asarray(array)
    check_dtype(a.dtype, "array")
    if a.ndim == 0:
        raise ValueError("array: a 0-d array has no axis to resize")
    axis = _normalise_axis(axis, a.ndim)
    if a.flags.f_contiguous:
        fortran, view, q = True, a, axis
    else:
        if not a.flags.c_contiguous:
            a = np.ascontiguousarray(a)
        # A C-ordered array is the column-major array of the reversed shape.
        fortran, view, q = False, a.T, a.ndim - 1 - axis
    extents = view.shape
    faster = math.prod(extents[:q])
    slower = math.prod(extents[q + 1:])
    n = extents[q]
    if faster == 1:
        host, dim = view.reshape((n, slower), order="F"), 1
    else:
        host, dim = view.reshape((faster, n, slower), order="F"), 2
    out = call(host, weights, indices, dim)
    shape = list(extents)
    shape[q] = out.shape[0] if dim == 1 else out.shape[1]
    out = out.reshape(shape, order="F")
    return out if fortran else out.T


_IMAGE_DTYPES = tuple(np.dtype(t) for t in ("uint8", "uint16", "uint32", "int8", "int16", "int32",
                                              "float32", "float64"))


def _is_image(a: np.ndarray) -> bool:
    channels = a.shape[2] if a.ndim == 3 else 1
    return a.dtype in _IMAGE_DTYPES and a.ndim in (2, 3) and 1 <= channels <= 4


def _uses_image_pipeline(a: np.ndarray, precise: bool, linear: bool) -> bool:
    alpha = a.ndim == 3 and a.shape[2] in (2, 4)
    return _is_image(a) and (precise or alpha or linear)


def resize(array, shape, *, kernel="cubic", antialias=True, border="symmetric", precise=False,
           linear=False, cval=0.0):
    """Resize the leading two axes (rows, columns) of an array, as ``axiswarp resize`` does.

    ``shape`` is ``(rows, columns)`` of the result; further axes, such as
    channels, are kept. The tables, the pass order (the axis that shrinks most
    first) and the sample path are the command line's: a ``uint8`` image gives
    exactly the bytes that ``axiswarp resize`` writes for the same PNG.

    * Class path: each pass is one module call in the array's own class, the
      module rounding after each pass. Any dtype and any number of trailing
      axes; no copy of a contiguous input.
    * Double path, for images (2 or 3 axes, 1 to 4 channels, a dtype among
      uint8/16/32, int8/16/32, float32/64) that have alpha (2 or 4 channels)
      or ask for ``precise`` or ``linear``: samples are resampled in double,
      colour premultiplied by alpha, and rounded once at the end. It runs the
      command line's own pipeline on a borrowed view of a Fortran-ordered
      input (a C-ordered one is copied once into that order).
    * ``linear``: the colour samples are taken as sRGB-encoded (integers
      scaled by their type's maximum, floats as they are), resampled in
      linear light and encoded once at the end, as ``--linear`` does.
      Signed integer images are refused.

    ``precise`` and ``linear`` apply to such images only; asking for them
    with another array raises ValueError.

    ``border="constant"`` resizes as if every sample beyond the edge of each
    pass held ``cval``, in the array's own type (an integer dtype needs a
    whole number it can hold; float32 rounds it): a pass whose tables name
    the fill sample resizes a copy of its input with that sample appended.
    """
    a = np.asarray(array)
    check_dtype(a.dtype, "array")
    if a.ndim < 2:
        raise ValueError(f"array: resize needs at least two axes (rows, columns), not {a.ndim}")
    try:
        rows, cols = shape
    except (TypeError, ValueError):
        raise TypeError(f"shape must be (rows, columns), not {shape!r}") from None
    rows = _length(rows, "rows")
    cols = _length(cols, "columns")
    fill = _fill.fill_value(cval, border)
    if fill != 0:
        _fill.held_fill(cval, a.dtype)  # refused before any pass
    if _uses_image_pipeline(a, precise, linear):
        return _loaded().resize_image(np.asfortranarray(a), rows, cols, str(kernel), bool(antialias),
                                      str(border), bool(precise), bool(linear), fill)
    if precise or linear:
        raise ValueError(f"{'precise' if precise else 'linear'} applies to images of 1 to 4 channels "
                         "of uint8/16/32, int8/16/32 or float32/64 samples, "
                         f"not a {a.dtype} array of shape {a.shape}")
    for dim, weights, indices in plan(a.shape[:2], (rows, cols), kernel=kernel, antialias=antialias,
                                      border=border, cval=cval):
        a = resize_axis(_fill.with_fill_sample(a, dim - 1, indices, cval), dim - 1, weights, indices)
    return a


def plan(shape, new_shape, *, kernel="cubic", antialias=True, border="symmetric", cval=0.0):
    """The passes of ``resize`` in calling order: a list of ``(dim, weights, indices)``.

    ``dim`` 1 resizes the rows (axis 0), 2 the columns (axis 1).
    """
    (rows, cols), (new_rows, new_cols) = shape, new_shape
    return _native.plan_resize(_length(rows, "rows"), _length(cols, "columns"), _length(new_rows, "rows"),
                               _length(new_cols, "columns"), str(kernel), bool(antialias), str(border),
                               _fill.fill_value(cval, border))


__all__ = ["tables", "resize_axis", "resize", "plan", "KERNELS", "BORDERS"]
