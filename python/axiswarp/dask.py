"""Lazy, chunked resizing of Dask arrays, bit-identical to the NumPy result for every chunking.

Each output chunk along the resized axis is computed from the input window
that its table columns name: the halo is taken from the index values, not a
fixed overlap, and the columns' indices are rebased to that window. The module
only ever sees whole output samples with all their taps, so the result does
not depend on the chunking. Along the other axes, output chunks follow the
input's chunks. The graphs run under any Dask scheduler, threaded or
``dask.distributed``.

Memory: each output chunk is one task, which gathers its own input window
and runs every pass on it (``resize``: both axes, and on the double path the
premultiplication and the final rounding too). Its arguments are the input
chunks that the window overlaps, or, for an array that reads a stored array
block by block (``from_zarr``, ``from_array``), the stored array itself: the
task then reads its window one stored chunk at a time, and no input chunk is
ever held for a neighbour's sake. No slice and no intermediate pass is a
task result of its own, so nothing waits in the scheduler to be joined.
A window assembled from input chunks in memory is a host block, like the
passes' results: freed blocks wait in the host's cache for the next task,
so a worker process (whose malloc, under Dask's MALLOC_TRIM_THRESHOLD_,
maps every block above 128 KiB afresh and returns it at once) does not pay
the kernel to fault in and clear a new window for every task.
"""

from __future__ import annotations

import functools

import dask.array as da
import numpy as np
from dask.base import tokenize
from dask.highlevelgraph import HighLevelGraph

from . import _fill, _resize
from ._call import check_dtype, host_empty


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


# The functions that read a block of a zarr- or array-backed Dask array
# (from_zarr, from_array): getter(source, slices).
_GETTERS = tuple(f for f in (getattr(da.core, n, None) for n in ("getter", "getter_nofancy", "getter_inline"))
                 if f is not None)


def _block_reader(graph, key, bounds):
    """``(function, source key)`` when block ``key`` is a plain read of a
    stored array, ``function(source, slices)``, at its own place (``bounds``:
    per axis, the block's (start, stop)); None for anything else."""
    task = graph.get(key)
    if not (isinstance(task, tuple) and len(task) == 3 and callable(task[0])):
        return None
    function, source, slices = task
    inner = getattr(function, "dsk", None)
    if inner is not None:
        # A blockwise read: one inner task, getter of its two inputs.
        if len(inner) != 1:
            return None
        body = next(iter(inner.values()))
        if not (isinstance(body, tuple) and len(body) == 3 and body[0] in _GETTERS
                and tuple(body[1:]) == tuple(function.inkeys)):
            return None
    elif function not in _GETTERS:
        return None
    if not (isinstance(source, str) and source in graph and isinstance(slices, tuple)
            and len(slices) == len(bounds)
            and all(isinstance(c, slice) and c.step in (None, 1) and (c.start or 0, c.stop) == b
                    for c, b in zip(slices, bounds))):
        return None
    return function, source


def _assemble(shape, dtype, pieces):
    # Pieces (array, offsets) into one window; one piece is the window itself.
    if len(pieces) == 1:
        return pieces[0][0]
    window = host_empty(shape, dtype)
    for piece, offsets in pieces:
        window[tuple(slice(o, o + n) for o, n in zip(offsets, piece.shape))] = piece
    return window


def _places(spans, blocks, stored):
    # Per input block of the window (in np.ndindex order over ``blocks``, each
    # axis's list of the needed blocks' (start, stop)): where its piece lies,
    # within the block (or the stored array) and within the window.
    places = []
    for index in np.ndindex(*[len(b) for b in blocks]):
        cut, offsets = [], []
        for (lo, hi), axis_blocks, k in zip(spans, blocks, index):
            b0, b1 = axis_blocks[k]
            first = max(lo, b0)
            last = max(min(hi, b1), first)
            cut.append(slice(first, last) if stored else slice(first - b0, last - b0))
            offsets.append(first - lo)
        places.append((tuple(cut), tuple(offsets)))
    return places


def _pass_entry(axis, weights, indices, fill):
    return axis, weights, indices, fill


def _chunk_task(sources, stored, spans, blocks, dtype, passes, pre, post):
    """One output chunk: its input window, then every pass on it, each with
    its columns of the tables rebased to the window, appending the fill
    sample first when the pass names it.

    The window ``spans`` (per axis, [lo, hi)) is assembled from pieces: cut
    from the input chunks ``sources``, or, when ``stored``, read through
    ``sources = [reader, stored array]`` piece by piece, so that only one
    stored chunk is being decoded at a time."""
    places = _places(spans, blocks, stored)
    window_shape = tuple(hi - lo for lo, hi in spans)
    if stored and len(places) > 1:
        # Each piece goes into the window as soon as it is read.
        reader, source = sources
        # Not a host block: the reader's own pieces are fresh NumPy arrays
        # anyway, and in the threaded scheduler a cached block of each
        # window size (interior, edge, corner) raised the zarr example's
        # peak by 5-6 MiB, where malloc reuses the same memory.
        window = np.empty(window_shape, dtype=dtype)
        for cut, offsets in places:
            piece = reader(source, cut)
            window[tuple(slice(o, o + n) for o, n in zip(offsets, piece.shape))] = piece
            del piece
    elif stored:
        window = sources[0](sources[1], places[0][0])
    else:
        window = _assemble(window_shape, dtype, [(block[cut], offsets)
                                                 for block, (cut, offsets) in zip(sources, places)])
    if pre is not None:
        window = pre(window)
    for axis, weights, indices, fill in passes:
        if fill is not None:
            shape = list(window.shape)
            shape[axis] = 1
            window = np.concatenate([window, np.broadcast_to(np.asarray(fill, dtype=window.dtype), shape)],
                                    axis=axis)
        window = _resize.resize_axis(window, axis, weights, indices)
    return window if post is None else post(window)


def _resize_chunks(x, passes, out_chunks, *, whole=(), pre=None, post=None, dtype=None):
    """The graph of one or more passes, built by hand: one task per output
    chunk, which gathers its own input window and runs every pass on it.

    ``passes``: (axis, weights, indices, fill) in calling order, each axis
    once; ``fill`` None, or the fill sample's value (broadcastable to one
    sample slab) that index n + 1 names. ``out_chunks[axis]``: the output
    chunks along each resized axis. Axes in ``whole`` are gathered whole (one
    output chunk); the others keep the input's chunks. ``pre`` and ``post``
    are elementwise maps applied to the window and to the result; ``dtype``
    is the result's.
    """
    graph = x.__dask_graph__()
    bounds = [np.cumsum((0,) + c).tolist() for c in x.chunks]
    windows = {}  # axis -> per output chunk: (lo, hi, needed blocks, pass entry)
    for axis, weights, indices, fill in passes:
        n = x.shape[axis]
        limit = n if fill is None else n + 1
        per_chunk = []
        start = 0
        for size in out_chunks[axis]:
            w = np.asfortranarray(weights[:, start:start + size])
            i = indices[:, start:start + size]
            start += size
            lo, hi = _source_span(i, limit)
            # An empty window (no valid index) still takes the first chunk,
            # cut to nothing, so that the module sees the whole array's error.
            needed = [b for b in range(len(bounds[axis]) - 1)
                      if bounds[axis][b] < min(hi, n) and bounds[axis][b + 1] > lo] or [0]
            per_chunk.append((lo, min(hi, n), needed, (axis, w, _rebase(i, lo, limit), fill if hi > n else None)))
        windows[axis] = per_chunk

    grid = []  # per axis: per output chunk, (lo, hi, needed input blocks)
    for axis in range(x.ndim):
        if axis in windows:
            grid.append([(lo, hi, needed) for lo, hi, needed, _ in windows[axis]])
        elif axis in whole:
            grid.append([(0, x.shape[axis], list(range(x.numblocks[axis])))])
        else:
            grid.append([(bounds[axis][b], bounds[axis][b + 1], [b]) for b in range(x.numblocks[axis])])

    out_dtype = np.dtype(dtype) if dtype is not None else (np.dtype(np.uint8) if x.dtype == np.bool_ else x.dtype)
    name = "axiswarp-resize-" + tokenize(x, [(a, w, i, None if f is None else np.asarray(f)) for a, w, i, f in passes],
                                         out_chunks, whole, pre, post, out_dtype)
    layer = {}
    for index in np.ndindex(*[len(g) for g in grid]):
        spans = [grid[axis][k] for axis, k in enumerate(index)]
        blocks = list(np.ndindex(*[len(needed) for _, _, needed in spans]))
        keys = [(x.name, *[spans[a][2][b[a]] for a in range(x.ndim)]) for b in blocks]
        # Whole-block reads of one stored array become one read of the window.
        readers = {_block_reader(graph, key, [(bounds[a][key[a + 1]], bounds[a][key[a + 1] + 1])
                                              for a in range(x.ndim)]) for key in keys}
        stored = len(readers) == 1 and None not in readers
        block_bounds = [[(bounds[a][b], bounds[a][b + 1]) for b in spans[a][2]] for a in range(x.ndim)]
        # Keys in the list are replaced by their values: the input chunks,
        # or the stored array, which every chunk's task shares.
        sources = list(readers.pop()) if stored else keys
        # Each pass's columns are one key of their own, shared by every task
        # of the same output chunk along that axis: a task carries only keys,
        # so a graph sent to a worker process carries each column once.
        chunk_passes = [(name + "-tables", a, index[a]) for a, _, _, _ in passes]
        layer[(name, *index)] = (_chunk_task, sources, stored, [(lo, hi) for lo, hi, _ in spans], block_bounds,
                                 x.dtype, chunk_passes, pre, post)

    for axis, per_chunk in windows.items():
        for k, (_, _, _, entry) in enumerate(per_chunk):
            layer[(name + "-tables", axis, k)] = (_pass_entry, *entry)

    chunks = []
    for axis in range(x.ndim):
        if axis in windows:
            chunks.append(tuple(out_chunks[axis]))
        elif axis in whole:
            chunks.append((x.shape[axis],))
        else:
            chunks.append(x.chunks[axis])
    hlg = HighLevelGraph.from_collections(name, layer, dependencies=[x])
    return da.Array(hlg, name, tuple(chunks), dtype=out_dtype)


def resize_axis(x, axis, weights, indices, *, chunks=None):
    """Resize one axis of a Dask array with K-by-L tables, lazily and chunk by chunk.

    The result equals ``axiswarp.resize_axis(x.compute(), axis, weights,
    indices)`` byte for byte, whatever the chunking, including chunks that
    split the resized axis. ``chunks`` gives the output's chunks along the
    axis (an int or a tuple summing to L); by default there are as many as the
    input has along it, at the same relative positions. Each output chunk is
    one task that gathers its own input window from the input chunks.
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
    out_chunks = _checked_chunks(x, axis, weights.shape[1], chunks)
    if weights.shape[1] == 0:
        out_dtype = np.dtype(np.uint8) if x.dtype == np.bool_ else x.dtype
        return da.zeros(x.shape[:axis] + (0,) + x.shape[axis + 1:], dtype=out_dtype)
    return _resize_chunks(x, [(axis, weights, indices, None)], {axis: out_chunks})


def _checked_chunks(x, axis, length, chunks):
    n = x.shape[axis]
    if chunks is None:
        out_chunks = _output_chunks(n, length, x.chunks[axis])
    elif isinstance(chunks, int):
        out_chunks = da.core.normalize_chunks(chunks, (length,))[0]
    else:
        out_chunks = tuple(int(c) for c in chunks)
        if sum(out_chunks) != length:
            raise ValueError(f"chunks {chunks!r} do not add up to the {length} output samples")
    return out_chunks


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
           precise=False, chunks=None, cval=0.0):
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
    want regular ones). ``border`` and ``cval`` are ``axiswarp.resize``'s; a
    chunk whose window reaches past the edge of a constant border appends the
    fill sample itself. All passes of an output chunk run in its one task.
    """
    x = da.asarray(x)
    check_dtype(x.dtype, "x")
    antialias = _resize._flag(antialias, "antialias")
    precise = _resize._flag(precise, "precise")
    kernel = _resize._text(kernel, "kernel")
    border = _resize._text(border, "border")
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
    fill = _fill.fill_value(cval, border)
    if fill != 0:
        # The fill sample as a pass sees it: the held value, or on the
        # double path that value premultiplied like a pixel of it.
        fill = _fill.held_fill(cval, dtype)
        if double_path:
            fill = _premultiply(np.full((1,) * (x.ndim - 1) + (x.shape[-1] if x.ndim == 3 else 1,), fill,
                                        dtype=dtype), alpha)
    passes, out_chunks = [], {}
    for dim, weights, indices in _resize._plan(x.shape, axes, lengths, kernel, antialias, border, cval):
        axis = dim - 1
        named = _fill.names_fill_sample(indices, x.shape[axis])
        passes.append((axis, np.asfortranarray(weights), np.asfortranarray(indices), fill if named else None))
        out_chunks[axis] = _checked_chunks(x, axis, weights.shape[1], per_axis[axis])
    # Every pass runs in one task per output chunk; on the double path the
    # channels are gathered whole, premultiplied in the task and rounded at
    # its end, so no intermediate ever becomes a chunk of its own.
    if double_path:
        return _resize_chunks(x, passes, out_chunks, whole=(2,) if x.ndim == 3 else (),
                              pre=functools.partial(_premultiply, alpha=alpha),
                              post=functools.partial(_unpremultiply, dtype=dtype, alpha=alpha), dtype=dtype)
    return _resize_chunks(x, passes, out_chunks)


__all__ = ["resize", "resize_axis"]
