"""Lazy, chunked resizing of Dask arrays, bit-identical to the NumPy result for every chunking.

Each output chunk along the resized axis is computed from the input slice
that its table columns name: the halo is taken from the index values, not a
fixed overlap, and the columns' indices are rebased to that slice. The module
only ever sees whole output samples with all their taps, so the result does
not depend on the chunking. Along the other axes, output chunks follow the
input's chunks. The graphs run under any Dask scheduler, threaded or
``dask.distributed``.
"""

from __future__ import annotations

import math

import dask.array as da
import numpy as np

from . import _resize
from ._call import check_dtype


def _output_chunks(n: int, length: int, input_chunks) -> tuple[int, ...]:
    # As many chunks as the input has along the axis, with boundaries at the
    # same relative positions (empty chunks dropped).
    bounds = [0]
    edge = 0
    for c in input_chunks:
        edge += c
        bounds.append(length * edge // n if n else length)
    bounds[-1] = length
    chunks = tuple(b - a for a, b in zip(bounds, bounds[1:]) if b > a)
    return chunks or (length,)


def _source_span(indices: np.ndarray, n: int) -> tuple[int, int]:
    # Zero-based [lo, hi) of the input positions that valid indices name. An
    # invalid index (outside 1 <= x < n + 1, or NaN) names nothing; it stays
    # invalid after rebasing by the whole number lo, so the chunk raises the
    # same module error the whole array would.
    valid = indices[(indices >= 1) & (indices < n + 1)]
    if valid.size == 0:
        return 0, 0
    return int(np.floor(valid.min())) - 1, int(np.floor(valid.max()))


def _rebase(indices: np.ndarray, lo: int, n: int) -> np.ndarray:
    # The module uses only the whole part of an index, so a valid index becomes
    # exactly floor(x) - lo; invalid ones are passed on as they are.
    valid = (indices >= 1) & (indices < n + 1)
    return np.asfortranarray(np.where(valid, np.floor(indices) - lo, indices))


def _resize_block(block, axis, weights, indices):
    return _resize.resize_axis(block, axis, weights, indices)


def resize_axis(x, axis, weights, indices, *, chunks=None):
    """Resize one axis of a Dask array with K-by-L tables, lazily and chunk by chunk.

    The result equals ``axiswarp.resize_axis(x.compute(), axis, weights,
    indices)`` byte for byte, whatever the chunking, including chunks that
    split the resized axis. ``chunks`` gives the output's chunks along the
    axis (an int or a tuple summing to L); by default there are as many as the
    input has along it, at the same relative positions.
    """
    x = da.asarray(x)
    check_dtype(x.dtype, "x")
    if x.ndim == 0:
        raise ValueError("x: a 0-d array has no axis to resize")
    axis = _resize._normalise_axis(axis, x.ndim)
    weights = np.asfortranarray(np.asarray(weights, dtype=np.float64))
    indices = np.asfortranarray(np.asarray(indices, dtype=np.float64))
    if weights.ndim != 2 or indices.shape != weights.shape:
        # The module's own checks give the exact error: let one small call say it.
        _resize.resize_axis(np.zeros((1,) * x.ndim, dtype=x.dtype), axis, weights, indices)
    n = x.shape[axis]
    length = weights.shape[1]
    if chunks is None:
        out_chunks = _output_chunks(n, length, x.chunks[axis])
    elif isinstance(chunks, int):
        out_chunks = da.core.normalize_chunks(chunks, (length,))[0]
    else:
        out_chunks = tuple(int(c) for c in chunks)
        if sum(out_chunks) != length:
            raise ValueError(f"chunks {chunks!r} do not add up to the {length} output samples")
    out_dtype = np.dtype(np.uint8) if x.dtype == np.bool_ else x.dtype

    pieces = []
    start = 0
    for size in out_chunks:
        w = weights[:, start:start + size]
        i = indices[:, start:start + size]
        start += size
        lo, hi = _source_span(i, n)
        window = [slice(None)] * x.ndim
        window[axis] = slice(lo, hi)
        source = x[tuple(window)].rechunk({axis: -1})
        block_chunks = list(source.chunks)
        block_chunks[axis] = (size,)
        pieces.append(source.map_blocks(_resize_block, axis, np.asfortranarray(w), _rebase(i, lo, n),
                                        dtype=out_dtype, chunks=tuple(block_chunks)))
    if not pieces:
        return da.zeros(x.shape[:axis] + (0,) + x.shape[axis + 1:], dtype=out_dtype)
    return da.concatenate(pieces, axis=axis) if len(pieces) > 1 else pieces[0]


def _premultiply(block, alpha):
    # For samples of up to 16 bits, products of two integers below 2^16:
    # exact in double. Wider ones round once, as the command line's do.
    values = block.astype(np.float64)
    if alpha:
        values[..., :-1] *= block[..., -1:]
    return values


def _round_samples(values, dtype):
    # The module's rule, as the command line's final rounding applies it:
    # integers add one half (minus one half below zero) and truncate,
    # saturating at the type's limits, NaN giving 0; floats round to nearest.
    if np.issubdtype(dtype, np.floating):
        with np.errstate(over="ignore"):
            return values.astype(dtype)
    info = np.iinfo(dtype)
    lo, top = float(info.min), float(info.max)
    with np.errstate(invalid="ignore"):
        rounded = np.where(values >= 0.0, np.floor(values + 0.5), np.ceil(values - 0.5))
        rounded = np.where(np.isnan(values), 0.0, np.clip(rounded, lo, top))
    return rounded.astype(dtype)


def _unpremultiply(block, dtype, alpha):
    if not alpha:
        return _round_samples(block, dtype)
    a = block[..., -1:]
    rounded_alpha = _round_samples(a, dtype)
    # A stored alpha above 0 means a >= 1/2 for integers and a > 0 for
    # floats, so the division is safe.
    with np.errstate(divide="ignore", invalid="ignore"):
        colour = np.where(rounded_alpha > 0, _round_samples(block[..., :-1] / a, dtype), 0)
    return np.concatenate([colour.astype(dtype), rounded_alpha], axis=-1)


def resize(x, shape=None, *, axes=None, zoom=None, kernel="cubic", antialias=True, border="symmetric",
           precise=False, chunks=None):
    """Resize any axes of a Dask array to new lengths or by zoom factors, lazily.

    ``shape``, ``axes`` and ``zoom`` mean what they mean for
    ``axiswarp.resize``: the same tables, pass order (smallest ratio m/n
    first, equal ratios in axis order) and sample paths, so the result equals
    ``axiswarp.resize(x.compute(), shape, ...)`` byte for byte: the class
    path for any dtype, and for images (1 to 4 channels of uint8/16/32,
    int8/16/32 or float32/64) resized along rows and columns with alpha (2 or
    4 channels) or with ``precise`` the double path, premultiplied by alpha,
    rounded once at the end (the channel axis is then kept in one chunk).
    Linear-light resizing is not offered here. ``chunks`` gives the output
    chunks along the resized axes: one int for all, a sequence with one
    entry (an int or a tuple) per axis in ``axes`` order, or None for chunks
    at the input's relative positions (which may be irregular; zarr stores
    want regular ones).
    """
    x = da.asarray(x)
    check_dtype(x.dtype, "x")
    antialias = _resize._flag(antialias, "antialias")
    precise = _resize._flag(precise, "precise")
    if x.ndim == 0:
        raise ValueError("x: a 0-d array has no axis to resize")
    axes, lengths = _resize._targets(x.shape, shape, axes, zoom)
    if x.size == 0:
        raise ValueError(f"x: the input is empty (shape {x.shape}); there are no samples to resample")
    image = _resize._is_image(x) and sorted(axes) == [0, 1]
    alpha = image and x.ndim == 3 and x.shape[2] in (2, 4)
    if precise and not image:
        raise ValueError("precise applies to images of 1 to 4 channels of uint8/16/32, int8/16/32 "
                         "or float32/64 samples resized along rows and columns (axes 0 and 1), "
                         f"not axes {axes} of a {x.dtype} array of shape {x.shape}")
    if isinstance(chunks, (tuple, list)):
        if len(chunks) != len(axes):
            raise ValueError(f"chunks gives {len(chunks)} entries for {len(axes)} axes")
        per_axis = dict(zip(axes, chunks))
    else:
        per_axis = dict.fromkeys(axes, chunks)
    # float64 without alpha: its class path already is the double path.
    double_path = image and (alpha or (precise and x.dtype != np.float64))
    dtype = x.dtype
    if double_path:
        if x.ndim == 3:
            x = x.rechunk({2: -1})
        x = x.map_blocks(_premultiply, alpha, dtype=np.float64)
    for dim, weights, indices in _resize._plan(x.shape, axes, lengths, _resize._text(kernel, "kernel"),
                                               antialias, _resize._text(border, "border")):
        x = resize_axis(x, dim - 1, weights, indices, chunks=per_axis[dim - 1])
    if double_path:
        x = x.map_blocks(_unpremultiply, dtype, alpha, dtype=dtype)
    return x


__all__ = ["resize", "resize_axis"]
