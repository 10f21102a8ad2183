"""axiswarp: exact one-dimensional resampling of NumPy arrays through the axisWarpKernel module.

Every output sample is a weighted sum of K input samples, taken through
K-by-L tables of one-based positions and weights, in exact IEEE double
arithmetic, then rounded and saturated once into the array's own class. The
package is a host of the compiled module, like the command line's stand-in
host, and runs it on NumPy arrays (``call``, ``resize_axis``, ``resize``) and
on Dask arrays (``axiswarp.dask``) and on xarray DataArrays (``axiswarp.xarray``).

    >>> import numpy as np, axiswarp
    >>> w, i = axiswarp.tables(6, 3)
    >>> axiswarp.resize_axis(np.arange(12, dtype=np.uint8).reshape(6, 2), 0, w, i).shape
    (3, 2)
"""

from ._version import __version__
from ._call import DTYPES, call, live_counts, module_path
from ._errors import ModuleError
from ._resize import BORDERS, KERNELS, MAX_LENGTH, plan, resize, resize_axis, tables

__all__ = ["__version__", "call", "tables", "resize_axis", "resize", "plan", "ModuleError", "DTYPES", "KERNELS",
           "BORDERS", "MAX_LENGTH", "module_path", "live_counts"]
