"""The script call ``out = axisWarpKernel(in, weights, indices, dim)`` on NumPy arrays.

A NumPy shape is the host's extents: element (i, j, p) is ``a[i, j, p]``
whatever the memory order. The host stores arrays column-major, with the real
and imaginary parts of a complex array in two blocks, so:

* a real array that is already Fortran-ordered, aligned and native-endian is
  borrowed as it is (no copy; the module never writes an input);
* any other real array (C order, strided, negative strides, byte-swapped) is
  copied once into Fortran order;
* a complex array is split into its two parts, one copy each.

The result's memory is the array the module created: NumPy adopts it without
a copy. A complex result is the one exception, as NumPy keeps the two parts
interleaved: its parts are copied once into one complex array.
"""

from __future__ import annotations

import numbers
import os

import numpy as np

from . import _native
from ._errors import ModuleError

# NumPy element types and the host's class identifiers.
_CLASS_OF = {
    np.dtype(np.bool_): 3,
    np.dtype(np.float64): 6,
    np.dtype(np.float32): 7,
    np.dtype(np.int8): 8,
    np.dtype(np.uint8): 9,
    np.dtype(np.int16): 10,
    np.dtype(np.uint16): 11,
    np.dtype(np.int32): 12,
    np.dtype(np.uint32): 13,
    np.dtype(np.int64): 14,
    np.dtype(np.uint64): 15,
}
_COMPLEX_PART = {np.dtype(np.complex128): np.dtype(np.float64), np.dtype(np.complex64): np.dtype(np.float32)}
_COMPLEX_OF = {np.dtype(np.float64): np.dtype(np.complex128), np.dtype(np.float32): np.dtype(np.complex64)}

DTYPES = tuple(_CLASS_OF) + tuple(_COMPLEX_PART)
"""Every NumPy element type a module call accepts."""


def _module_file() -> str:
    override = os.environ.get("AXISWARP_MODULE")
    if override:
        return override
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), _native.module_file_name())


def _load(path: str) -> "_native.Module":
    # At import, so that a package without a usable module file fails at once
    # and says which file it tried, not on its first call.
    how = "from $AXISWARP_MODULE" if os.environ.get("AXISWARP_MODULE") else "beside the package"
    if not os.path.isfile(path):
        raise ImportError(f"axiswarp: the module file {path} ({how}) does not exist", path=path)
    try:
        return _native.Module(path)
    except RuntimeError as error:
        raise ImportError(f"axiswarp: the module file {path} ({how}) cannot be loaded: {error}",
                          path=path) from None


_module = _load(_module_file())


def module_path() -> str:
    """The module file the package loaded: ``$AXISWARP_MODULE`` if set at import, else the one beside the package."""
    return _module.path


def _loaded():
    return _module


def _host_order(part: np.ndarray) -> np.ndarray:
    if not part.dtype.isnative:
        part = part.astype(part.dtype.newbyteorder("="))
    # Borrowed when it is already column-major and aligned; copied otherwise.
    if not (part.flags.f_contiguous and part.flags.aligned):
        part = np.asfortranarray(part)
    return part


def check_dtype(dtype: np.dtype, what: str) -> None:
    """Raise TypeError naming ``what`` unless the module can take ``dtype``."""
    if dtype.newbyteorder("=") not in _CLASS_OF and dtype.newbyteorder("=") not in _COMPLEX_PART:
        names = ", ".join(str(d) for d in DTYPES)
        raise TypeError(f"{what}: arrays of dtype {dtype} cannot be passed to the module (accepted: {names})")


def _argument(value, position: int) -> "_native.Argument":
    what = f"argument {position}"
    if isinstance(value, numbers.Number) and not isinstance(value, np.generic):
        # Python numbers are 1-by-1 doubles (complex numbers: complex doubles).
        try:
            value = np.array([[complex(value) if isinstance(value, complex) else float(value)]])
        except (OverflowError, TypeError, ValueError) as error:
            raise TypeError(f"{what}: the number {value!r} is not a double ({error})") from None
    elif not isinstance(value, np.ndarray):
        try:
            value = np.asarray(value)
        except Exception as error:  # noqa: BLE001 - NumPy raises many kinds here
            raise TypeError(f"{what}: {type(value).__name__} cannot be made into an array ({error})") from None
    check_dtype(value.dtype, what)
    if value.ndim == 0:
        value = value.reshape(1, 1)  # a NumPy scalar is 1-by-1, as in the host
    dims = list(value.shape)
    part = _COMPLEX_PART.get(value.dtype.newbyteorder("="))
    if part is None:
        real = _host_order(value)
        return _native.Argument(_CLASS_OF[real.dtype], dims, real, None)
    real = _host_order(np.asfortranarray(value.real))
    imag = _host_order(np.asfortranarray(value.imag))
    return _native.Argument(_CLASS_OF[real.dtype], dims, real, imag)


def _host_extents(shape) -> list[int]:
    # At least two extents, trailing 1s beyond the second dropped, as the host keeps them.
    dims = list(shape) + [1] * (2 - len(shape))
    while len(dims) > 2 and dims[-1] == 1:
        dims.pop()
    return dims


def _expected_output(args) -> tuple[tuple[int, ...], np.dtype] | None:
    """The shape and dtype of a successful call's result, or None where the module will refuse the call."""
    if len(args) != 4:
        return None
    image, weights, _, dim = args
    try:
        dim = float(np.asarray(dim).reshape(()))
    except (TypeError, ValueError):
        return None
    if dim not in (1.0, 2.0) or np.ndim(weights) != 2:
        return None
    dims = _host_extents(np.shape(image))
    if len(dims) > 3:
        return None
    dims[int(dim) - 1] = np.shape(weights)[1]
    dtype = np.result_type(image) if isinstance(image, np.ndarray) else np.asarray(image).dtype
    dtype = np.dtype(np.uint8) if dtype == np.bool_ else dtype.newbyteorder("=")
    return tuple(_host_extents(dims)), dtype


def check_out(out, shape, dtype, order: str, inputs) -> None:
    """Refuse an ``out`` array that cannot receive a result of ``shape`` and ``dtype`` in memory order ``order``.

    TypeError for something that is not an array or has another dtype,
    ValueError for another shape, layout, a read-only array, or one that shares
    memory with an input. Nothing is called before these checks pass.
    """
    if not isinstance(out, np.ndarray):
        raise TypeError(f"out must be a NumPy array, not {type(out).__name__}")
    if out.dtype != dtype:
        raise TypeError(f"out has dtype {out.dtype}, and the result is {dtype}")
    if out.shape != tuple(shape):
        raise ValueError(f"out has shape {out.shape}, and the result has shape {tuple(shape)}")
    contiguous = out.flags.f_contiguous if order == "F" else out.flags.c_contiguous
    if not (contiguous and out.flags.aligned):
        layout = "Fortran" if order == "F" else "C"
        raise ValueError(f"out must be an aligned, {layout}-contiguous array, as the result is")
    if not out.flags.writeable:
        raise ValueError("out is read-only")
    for value in inputs:
        if isinstance(value, np.ndarray) and np.may_share_memory(out, value):
            raise ValueError("out overlaps an input: the module reads every input while it writes out")


def call(*args, out=None):
    """Call the module exactly as a script does: ``call(image, weights, indices, dim)``.

    Any number of arguments is passed on, so the module's own argument-count
    error is reachable. Arrays keep their NumPy shape as the host's extents;
    ``bool`` becomes logical, ``float64``/``float32``/``int8``...``uint64`` the
    classes of the same names, ``complex128``/``complex64`` complex double and
    single. Python numbers become 1-by-1 doubles, NumPy scalars 1-by-1 arrays
    of their type.

    Returns a Fortran-ordered array with the host's extents (trailing 1s
    beyond the second dropped) in the output class's dtype (complex128 or
    complex64 for a complex result). The call runs without the GIL, so calls
    from several threads run at once.

    ``out``: a writable, aligned, Fortran-contiguous array of the result's
    shape and dtype that overlaps no argument. The module creates its output
    in ``out``'s memory through the host's output placement, so the samples
    are written there directly, and ``out`` is returned. A complex result is
    the exception: its two parts are made apart and interleaved into ``out``
    by one copy, as for any complex result. When the call fails, ``out`` may
    be left partly written.

    Raises ModuleError (a ValueError) when the module ends the call with an
    error, and TypeError naming the argument, before any call, for an input
    the host cannot hold (object, string or float16 arrays, for example).
    A wrong ``out`` raises TypeError or ValueError before any call.
    """
    arguments = [_argument(value, position) for position, value in enumerate(args, start=1)]
    expected = _expected_output(args) if out is not None else None
    if expected is not None:
        check_out(out, expected[0], expected[1], "F", args)
        if expected[1] not in _COMPLEX_PART:
            _loaded().call_into(arguments, out)
            return out
    real, imag = _loaded().call(arguments)
    result = real if imag is None else None
    if out is not None and expected is None:
        # The module took a call this package thought it would refuse: check
        # what came back before copying it into out.
        check_out(out, real.shape, real.dtype if imag is None else _COMPLEX_OF[real.dtype], "F", args)
    if imag is None:
        if out is None:
            return result
        out[...] = real
        return out
    # NumPy interleaves the parts: the one copy of an output.
    target = np.empty(real.shape, dtype=_COMPLEX_OF[real.dtype], order="F") if out is None else out
    target.real = real
    target.imag = imag
    return target


def host_empty(shape, dtype, order: str = "C") -> np.ndarray:
    """An uninitialised array whose memory is a host data block (see ``_native.host_bytes``).

    For the package's own large temporaries: a freed block waits in the
    host's cache, so the next temporary of about the same size finds its
    pages already faulted in, whatever malloc's settings in the process.
    """
    dtype = np.dtype(dtype)
    shape = tuple(int(n) for n in shape)
    count = 1
    for n in shape:
        count *= n
    block = _native.host_bytes(count * dtype.itemsize)
    return block[:count * dtype.itemsize].view(dtype).reshape(shape, order=order)


def live_counts() -> tuple[int, int, int]:
    """The host's live arrays, scratch blocks and handed-over data blocks (for tests)."""
    return _native.live_counts()


__all__ = ["call", "module_path", "ModuleError", "DTYPES", "live_counts"]
