"""Tables and resizing on N-dimensional NumPy arrays, through the same code as the command line."""

from __future__ import annotations

import math
import numbers
import operator
from fractions import Fraction

import numpy as np

from . import _fill, _native
from ._call import _loaded, call, check_dtype, check_out

KERNELS = ("nearest", "box", "triangle", "cubic", "lanczos2", "lanczos3")
BORDERS = ("symmetric", "replicate", "reflect", "mirror", "wrap", "constant")


# The longest axis the table builder takes, in or out.
MAX_LENGTH = 2**31


def _flag(value, what: str) -> bool:
    # Only real booleans: "no" or 0.5 taken as true would be silent surprises.
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    raise TypeError(f"{what} must be True or False, not {value!r}")


def _text(value, what: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a string, not {value!r}")
    return value


def _length(value, what: str) -> int:
    if not isinstance(value, (bool, np.bool_)):
        try:
            value = operator.index(value)
        except TypeError:
            pass
    if isinstance(value, int) and not isinstance(value, bool) and 1 <= value <= MAX_LENGTH:
        return value
    raise ValueError(f"{what} must be a whole number from 1 to {MAX_LENGTH}, not {value!r}")


def tables(n, m, *, kernel="cubic", antialias=True, border="symmetric", scale=None, cval=0.0):
    """Return ``(weights, indices)``: the K-by-m tables that resize a length ``n`` to ``m``.

    The same tables as ``axiswarp tables N M``, bit for bit: both ``float64``,
    Fortran-ordered, column j holding the K weights and one-based source
    positions of output sample j. ``kernel`` is one of ``KERNELS``, ``border``
    one of ``BORDERS``; ``scale`` defaults to m/n. Shrinking with
    ``antialias`` stretches the kernel by 1/scale. ``n`` and ``m`` are whole
    numbers from 1 to ``MAX_LENGTH`` (ValueError naming them otherwise).

    ``border="constant"`` puts ``cval`` beyond the edge. With a ``cval`` other
    than 0 the positions outside name index n + 1, a fill sample: append one
    sample holding ``cval`` to the axis before applying the tables (``resize``
    does it itself). With 0 the indices stay within 1..n and the result is
    exactly that of the fill sample: the term left out is w * 0, a signed
    zero, and adding a zero never changes a sum that starts from +0.
    """
    n = _length(n, "n")
    m = _length(m, "m")
    antialias = _flag(antialias, "antialias")
    if scale is None:
        scale = 0.0  # the tool's "m/n"
    else:
        if isinstance(scale, (bool, np.bool_)) or not isinstance(scale, numbers.Real):
            raise ValueError(f"scale must be a positive finite number, not {scale!r}")
        scale = float(scale)
        if not (math.isfinite(scale) and scale > 0):
            raise ValueError(f"scale must be a positive finite number, not {scale}")
    border = _text(border, "border")
    return _native.tables(n, m, _text(kernel, "kernel"), antialias, border, scale, _fill.fill_value(cval, border))


def _normalise_axis(axis, ndim: int) -> int:
    axis = operator.index(axis)
    if not -ndim <= axis < ndim:
        raise np.AxisError(axis, ndim)
    return axis % ndim


def _check_not_empty(a: np.ndarray, what: str = "array") -> None:
    if a.size == 0:
        raise ValueError(f"{what}: the input is empty (shape {a.shape}); there are no samples to resample")


def _keeps_fortran(a: np.ndarray) -> bool:
    # Results keep the input's memory order; an array that is both C- and
    # Fortran-contiguous (one non-unit axis) counts as C, NumPy's default.
    return a.flags.f_contiguous and not a.flags.c_contiguous


def _out_dtype(dtype: np.dtype) -> np.dtype:
    return np.dtype(np.uint8) if dtype == np.bool_ else dtype.newbyteorder("=")


def resize_axis(array, axis, weights, indices, *, out=None):
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

    ``out``: an array of exactly that shape, dtype and memory order,
    writable and sharing no memory with the input or the tables. The module
    writes the result into it directly (see ``call``), and it is returned.
    """
    a = np.asarray(array)
    check_dtype(a.dtype, "array")
    if a.ndim == 0:
        raise ValueError("array: a 0-d array has no axis to resize")
    axis = _normalise_axis(axis, a.ndim)
    _check_not_empty(a)
    fortran = _keeps_fortran(a)
    if out is not None and np.ndim(weights) == 2:
        shape = list(a.shape)
        shape[axis] = np.shape(weights)[1]
        check_out(out, shape, _out_dtype(a.dtype), "F" if fortran else "C", (array, a, weights, indices))
    if fortran:
        view, q = a, axis
    else:
        if not a.flags.c_contiguous:
            a = np.ascontiguousarray(a)
        # A C-ordered array is the column-major array of the reversed shape.
        view, q = a.T, a.ndim - 1 - axis
    extents = view.shape
    faster = math.prod(extents[:q])
    slower = math.prod(extents[q + 1:])
    n = extents[q]
    if faster == 1:
        host, dim = view.reshape((n, slower), order="F"), 1
    else:
        host, dim = view.reshape((faster, n, slower), order="F"), 2
    target = None
    if out is not None and np.ndim(weights) == 2:
        # The out array seen with the host's extents of the result: a view.
        length = np.shape(weights)[1]
        dims = [length, slower] if dim == 1 else [faster, length, slower]
        while len(dims) > 2 and dims[-1] == 1:
            dims.pop()
        target = (out if fortran else out.T).reshape(dims, order="F")
    if target is not None:
        call(host, weights, indices, dim, out=target)
        return out
    # (An out with tables the module will refuse: the module's error says why.)
    result = call(host, weights, indices, dim) if out is None else call(host, weights, indices, dim, out=out)
    shape = list(extents)
    shape[q] = result.shape[0] if dim == 1 else result.shape[1]
    result = result.reshape(shape, order="F")
    return result if fortran else result.T


_IMAGE_DTYPES = tuple(np.dtype(t) for t in ("uint8", "uint16", "uint32", "int8", "int16", "int32",
                                              "float32", "float64"))


def _is_image(a: np.ndarray) -> bool:
    channels = a.shape[2] if a.ndim == 3 else 1
    return a.dtype in _IMAGE_DTYPES and a.ndim in (2, 3) and 1 <= channels <= 4


def _uses_image_pipeline(a: np.ndarray, precise: bool, linear: bool) -> bool:
    alpha = a.ndim == 3 and a.shape[2] in (2, 4)
    return _is_image(a) and (precise or alpha or linear)


def _zoom_length(n: int, factor, what: str) -> int:
    if isinstance(factor, (bool, np.bool_)) or not isinstance(factor, numbers.Real):
        raise ValueError(f"{what} must be a positive finite number, not {factor!r}")
    factor = float(factor)
    if not (math.isfinite(factor) and factor > 0):
        raise ValueError(f"{what} must be a positive finite number, not {factor!r}")
    # As `axiswarp resize --scale`: round(n * s) in double, halves away from
    # zero (the fraction of a product below 2^52 is exact), at least 1.
    product = n * factor
    whole = math.floor(product) if math.isfinite(product) else product
    if not whole <= MAX_LENGTH:
        raise ValueError(f"{what} {factor!r} makes an axis of {n} longer than {MAX_LENGTH}")
    length = int(whole) + (1 if product - whole >= 0.5 else 0)
    if length > MAX_LENGTH:
        raise ValueError(f"{what} {factor!r} makes an axis of {n} longer than {MAX_LENGTH}")
    return max(1, length)


def _targets(in_shape, shape, axes, zoom) -> tuple[tuple[int, ...], tuple[int, ...]]:
    """The resized axes and their new lengths, from ``shape`` or ``zoom`` and ``axes``."""
    ndim = len(in_shape)
    if (shape is None) == (zoom is None):
        raise TypeError("give the new lengths as shape or as zoom factors, one of the two")
    given = shape if shape is not None else zoom
    word = "shape" if shape is not None else "zoom"
    if isinstance(given, (numbers.Number, np.generic)):
        values, count = None, None  # one value: for every axis in axes
    else:
        try:
            values = tuple(given)
        except TypeError:
            raise TypeError(f"{word} must be a number or a sequence of numbers, not {given!r}") from None
        count = len(values)
    if shape is not None and values is None:
        values, count = (shape,), 1
    if axes is None:
        if count is None:
            axes = tuple(range(ndim))
        elif count > ndim:
            raise ValueError(f"{word} gives {count} values, and the array has only {ndim} axes")
        else:
            axes = tuple(range(count))
    else:
        if isinstance(axes, (numbers.Integral, np.integer)):
            axes = (axes,)
        axes = tuple(_normalise_axis(x, ndim) for x in axes)
        if len(set(axes)) != len(axes):
            raise ValueError(f"axes {axes} names an axis twice")
        if count is not None and count != len(axes):
            raise ValueError(f"{word} gives {count} values for {len(axes)} axes")
    if not axes:
        raise ValueError(f"{word} names no axis to resize")
    for axis in axes:
        if in_shape[axis] == 0:
            raise ValueError(f"array: the input is empty along axis {axis} (shape {tuple(in_shape)}); "
                             "there are no samples to resample")
    if shape is not None:
        lengths = tuple(_length(v, f"shape[{k}]" if len(values) > 1 else "shape") for k, v in enumerate(values))
    elif values is None:
        lengths = tuple(_zoom_length(in_shape[axis], zoom, "zoom") for axis in axes)
    else:
        lengths = tuple(_zoom_length(in_shape[axis], z, f"zoom[{k}]") for k, (axis, z) in
                        enumerate(zip(axes, values)))
    for axis in axes:
        _length(in_shape[axis], f"the input's axis {axis}")
    return axes, lengths


def _pass_order(in_shape, axes, lengths) -> list[tuple[int, int]]:
    # (axis, new length), the axis whose ratio new/old is smallest first, so
    # that every later pass works on the smallest intermediate; equal ratios
    # in axis order. For rows and columns this is the command line's order.
    return sorted(zip(axes, lengths), key=lambda p: (Fraction(p[1], in_shape[p[0]]), p[0]))


def resize(array, shape=None, *, axes=None, zoom=None, kernel="cubic", antialias=True, border="symmetric",
           precise=False, linear=False, out=None, cval=0.0):
    """Resize any axes of an array to new lengths, or by zoom factors, as ``axiswarp resize`` does.

    ``shape`` gives the new lengths of ``axes``; ``axes`` defaults to the
    leading ``len(shape)`` axes, so ``resize(volume, (128, 128, 64))``
    resizes all three and ``resize(image, (480, 640))`` the rows and columns
    of a (rows, columns[, channels]) image. For a Z,Y,X stack or a
    channels-first array name the axes: ``resize(stack, (256, 256),
    axes=(1, 2))``. Axes not named keep their length and are not touched.

    ``zoom`` instead of ``shape``: one factor for every axis in ``axes``
    (every axis of the array when ``axes`` is not given, as in
    ``scipy.ndimage.zoom``; give ``axes=(0, 1)`` for a channels-last image)
    or one per axis. Each new length is round(n * zoom) in double, halves
    away from zero, at least 1, exactly as ``axiswarp resize --scale``
    rounds it. The tables then map the whole input onto the whole output
    (their scale is new/old length, not the factor), as the command line's.

    Every named axis is one pass, one ``resize_axis`` call with the tables
    ``tables(n, m, kernel=..., antialias=..., border=...)`` (also an axis
    whose length stays, as on the command line). Pass order, which decides
    where the class path rounds: the axis with the smallest ratio m/n first
    (compared exactly), so each later pass works on the smallest
    intermediate; equal ratios go in axis order. For rows and columns that
    is the command line's order, and a ``uint8`` image gives exactly the
    bytes that ``axiswarp resize`` writes for the same PNG. ``plan`` lists
    the passes; the result is bit-identical to running them through
    ``resize_axis``.

    * Class path: each pass is one module call in the array's own class, the
      module rounding after each pass. Any dtype and any number of axes; no
      copy of a contiguous input.
    * Double path, for images (2 or 3 axes, 1 to 4 channels, a dtype among
      uint8/16/32, int8/16/32, float32/64) resized along rows and columns
      (axes 0 and 1) that have alpha (2 or 4 channels) or ask for
      ``precise`` or ``linear``: samples are resampled in double, colour
      premultiplied by alpha, and rounded once at the end, by the command
      line's own pipeline.
    * ``linear``: the colour samples are taken as sRGB-encoded (integers
      scaled by their type's maximum, floats as they are), resampled in
      linear light and encoded once at the end, as ``--linear`` does.
      Signed integer images are refused.

    The result keeps the input's memory order on both paths (C for anything
    not Fortran-contiguous); on the double path a C-ordered image is copied
    to Fortran order on the way in and its result back on the way out.

    ``out``: an array of the result's shape, dtype and memory order, writable
    and sharing no memory with the input. On the class path the last pass's
    module call writes into it directly; on the double path the finished
    image is copied into it once.

    ``border="constant"`` resizes as if every sample beyond the edge of each
    pass held ``cval``, in the array's own type (an integer dtype needs a
    whole number it can hold; float32 rounds it): a pass whose tables name
    the fill sample resizes a copy of its input with that sample appended.

    ``antialias``, ``precise`` and ``linear`` take True or False only
    (TypeError otherwise). Lengths must be whole numbers from 1 to 2^31
    (ValueError naming the argument); an empty input is refused with
    ValueError. ``precise`` and ``linear`` apply to such images resized along
    rows and columns only; asking for them otherwise raises ValueError.
    """
    a = np.asarray(array)
    check_dtype(a.dtype, "array")
    antialias = _flag(antialias, "antialias")
    precise = _flag(precise, "precise")
    linear = _flag(linear, "linear")
    kernel = _text(kernel, "kernel")
    border = _text(border, "border")
    fill = _fill.fill_value(cval, border)
    if fill != 0:
        _fill.held_fill(cval, a.dtype)  # refused before any pass
    if a.ndim == 0:
        raise ValueError("array: a 0-d array has no axis to resize")
    axes, lengths = _targets(a.shape, shape, axes, zoom)
    _check_not_empty(a)
    new_shape = list(a.shape)
    for axis, length in zip(axes, lengths):
        new_shape[axis] = length
    fortran = _keeps_fortran(a)
    if out is not None:
        check_out(out, new_shape, _out_dtype(a.dtype), "F" if fortran else "C", (array, a))
    if sorted(axes) == [0, 1] and _uses_image_pipeline(a, precise, linear):
        result = _loaded().resize_image(np.asfortranarray(a), new_shape[0], new_shape[1], kernel, antialias,
                                        border, precise, linear, fill)
        if out is not None:
            out[...] = result
            return out
        return result if fortran else np.ascontiguousarray(result)
    if precise or linear:
        raise ValueError(f"{'precise' if precise else 'linear'} applies to images of 1 to 4 channels "
                         "of uint8/16/32, int8/16/32 or float32/64 samples resized along rows and columns "
                         f"(axes 0 and 1), not axes {axes} of a {a.dtype} array of shape {a.shape}")
    passes = _plan(a.shape, axes, lengths, kernel, antialias, border, cval)
    for k, (dim, weights, indices) in enumerate(passes):
        a = resize_axis(_fill.with_fill_sample(a, dim - 1, indices, cval), dim - 1, weights, indices,
                        out=out if k == len(passes) - 1 else None)
    return a


def _plan(in_shape, axes, lengths, kernel, antialias, border, cval=0.0):
    return [(axis + 1, *tables(in_shape[axis], length, kernel=kernel, antialias=antialias, border=border,
                               cval=cval))
            for axis, length in _pass_order(in_shape, axes, lengths)]


def plan(shape, new_shape=None, *, axes=None, zoom=None, kernel="cubic", antialias=True, border="symmetric",
         cval=0.0):
    """The passes of ``resize`` in calling order: a list of ``(dim, weights, indices)``.

    ``shape`` is the input array's shape; ``new_shape``, ``axes`` and ``zoom``
    are ``resize``'s. ``dim`` is the one-based axis a pass resizes: 1 the
    rows (axis 0), 2 the columns (axis 1), d axis d - 1. ``resize`` on the
    class path is exactly ``resize_axis(a, dim - 1, weights, indices)`` for
    each pass in this order.
    """
    in_shape = tuple(_length(n, f"shape[{k}]") for k, n in enumerate(shape))
    axes, lengths = _targets(in_shape, new_shape, axes, zoom)
    return _plan(in_shape, axes, lengths, _text(kernel, "kernel"), _flag(antialias, "antialias"),
                 _text(border, "border"), cval)


__all__ = ["tables", "resize_axis", "resize", "plan", "KERNELS", "BORDERS", "MAX_LENGTH"]
