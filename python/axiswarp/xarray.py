"""Resizing xarray DataArrays by dimension name, keeping dims, attrs and coordinates.

    >>> import axiswarp.xarray
    >>> small = axiswarp.xarray.resize(image, {"y": 512, "x": 512})

A NumPy-backed DataArray is resized by ``axiswarp.resize``, a Dask-backed one
lazily by ``axiswarp.dask.resize``: the same samples either way.

Coordinates. Output sample j of an axis resized from n to m samples lies at
input position p_j = (j + 1/2) * n/m - 1/2 (the tables map the whole input
onto the whole output). A numeric coordinate along the dimension is moved to
those positions:

* evenly spaced (the steps agree to within 1e-9 of the step): exactly
  c_0 + step * p_j, so a 0.1 mm grid stays a grid, now of step 0.1 * n/m;
* not evenly spaced: interpolated linearly at p_j between neighbouring input
  samples, and beyond the first and last sample continued along the end
  steps. The positions are right; the spacing of a curved grid is not kept
  exactly. No warning: this is the documented rule.

A coordinate of one input sample keeps its value. Coordinates that cannot be
moved this way (not numeric, such as dates or labels, or spanning a resized
dimension and another one) are dropped with a warning naming them.
Coordinates on other dimensions are kept as they are.
"""

from __future__ import annotations

import warnings

import numpy as np
import xarray as xr

from . import _resize
from . import dask as _dask


def _positions(n: int, m: int) -> np.ndarray:
    return (np.arange(m) + 0.5) * (n / m) - 0.5


def _moved(values: np.ndarray, m: int) -> np.ndarray:
    n = values.shape[0]
    x = values.astype(np.float64)
    if n == 1:
        return np.full(m, x[0])
    p = _positions(n, m)
    steps = np.diff(x)
    step = (x[-1] - x[0]) / (n - 1)
    if np.all(np.abs(steps - step) <= 1e-9 * abs(step)):
        return x[0] + step * p
    k = np.clip(np.floor(p).astype(np.int64), 0, n - 2)
    return x[k] + (p - k) * steps[k]


def resize(array: xr.DataArray, sizes=None, *, zoom=None, kernel="cubic", antialias=True, border="symmetric",
           precise=False, linear=False, chunks=None) -> xr.DataArray:
    """Resize the named dimensions of a DataArray: ``sizes`` maps dimension names to new lengths.

    ``zoom`` instead of ``sizes``: a mapping of dimension names to factors,
    each new length rounded as ``axiswarp.resize`` rounds it. The other
    keywords are ``axiswarp.resize``'s (``chunks`` and no ``linear`` for a
    Dask-backed array, as ``axiswarp.dask.resize``). Returns a DataArray with
    the same dims, name and attrs, and coordinates moved to the output
    sample centres (see the module's documentation).
    """
    if not isinstance(array, xr.DataArray):
        raise TypeError(f"array must be an xarray.DataArray, not {type(array).__name__}")
    if (sizes is None) == (zoom is None):
        raise TypeError("give the new lengths as sizes or as zoom factors, one of the two")
    given = sizes if sizes is not None else zoom
    if not hasattr(given, "items"):
        raise TypeError(f"{'sizes' if sizes is not None else 'zoom'} must map dimension names to values, "
                        f"not {given!r}")
    unknown = [d for d in given if d not in array.dims]
    if unknown:
        raise ValueError(f"no dimension {', '.join(map(repr, unknown))} in a DataArray with dims {array.dims}")
    dims = list(given)
    axes = tuple(array.get_axis_num(d) for d in dims)
    values = [given[d] for d in dims]
    keywords = dict(axes=axes, kernel=kernel, antialias=antialias, border=border, precise=precise)
    target = dict(shape=values) if sizes is not None else dict(zoom=values)
    if array.chunks is not None:
        if linear is not False:
            raise ValueError("linear is not offered for Dask-backed DataArrays")
        data = _dask.resize(array.data, **target, **keywords, chunks=chunks)
    else:
        data = _resize.resize(array.values, **target, **keywords, linear=linear)
    new_lengths = {d: data.shape[array.get_axis_num(d)] for d in dims}

    coords = {}
    dropped = []
    for name, coord in array.coords.items():
        resized = [d for d in coord.dims if d in new_lengths]
        if not resized:
            coords[name] = coord
        elif coord.ndim == 1 and np.issubdtype(coord.dtype, np.number) and not np.issubdtype(
                coord.dtype, np.complexfloating):
            d = coord.dims[0]
            coords[name] = xr.Variable((d,), _moved(np.asarray(coord.values), new_lengths[d]), coord.attrs)
        else:
            dropped.append(name)
    if dropped:
        warnings.warn(f"axiswarp.xarray.resize dropped the coordinates {', '.join(map(repr, dropped))}: "
                      "only numeric one-dimensional coordinates of a resized dimension are moved",
                      stacklevel=2)
    return xr.DataArray(data, dims=array.dims, coords=coords, name=array.name, attrs=dict(array.attrs))


__all__ = ["resize"]
