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
import threading

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

_lock = threading.Lock()
_module = None


def module_path() -> str:
    """The module file the package loads: ``$AXISWARP_MODULE`` if set, else the one this build made."""
    return os.environ.get("AXISWARP_MODULE") or _native.default_module_path()


def _loaded():
    global _module
    if _module is None:
        with _lock:
            if _module is None:
                path = module_path()
                try:
                    _module = _native.Module(path)
                except RuntimeError as error:
                    raise OSError(str(error)) from None
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


def call(*args):
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

    Raises ModuleError (a ValueError) when the module ends the call with an
    error, and TypeError naming the argument, before any call, for an input
    the host cannot hold (object, string or float16 arrays, for example).
    """
    arguments = [_argument(value, position) for position, value in enumerate(args, start=1)]
    real, imag = _loaded().call(arguments)
    if imag is None:
        return real
    # NumPy interleaves the parts: the one copy of an output.
    out = np.empty(real.shape, dtype=_COMPLEX_OF[real.dtype], order="F")
    out.real = real
    out.imag = imag
    return out


def live_counts() -> tuple[int, int, int]:
    """The host's live arrays, scratch blocks and handed-over data blocks (for tests)."""
    return _native.live_counts()


__all__ = ["call", "module_path", "ModuleError", "DTYPES", "live_counts"]
