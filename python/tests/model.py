"""A plain model of the module's arithmetic in Python floats (IEEE doubles, never fused)."""

import math

import numpy as np

_NAN_STORE = {np.uint64: 1 << 63, np.int32: -(1 << 31), np.int64: -(1 << 63)}


def to_double(sample) -> float:
    """One input element as a double. A uint64 from 2^63 on is read as the
    negative value u - 2^64, rounded, and 2^64 added back in a second rounding,
    which is not always the nearest double."""
    if isinstance(sample, np.uint64) and int(sample) >= 1 << 63:
        return float(int(sample) - (1 << 64)) + 2.0**64
    return float(sample)


def store(total: float, dtype: np.dtype):
    """One finished sum into the output type: the module's rounding and saturation."""
    if dtype == np.float64:
        return total
    if dtype == np.float32:
        with np.errstate(over="ignore"):
            return np.float32(total)
    info = np.iinfo(dtype)
    if math.isnan(total):
        return _NAN_STORE.get(dtype.type, 0)
    v = total + (-0.5 if info.min < 0 and total < 0.0 else 0.5)
    if math.isinf(v):
        return info.max if v > 0 else info.min
    return min(max(math.trunc(v), info.min), info.max)


def resample(image: np.ndarray, weights: np.ndarray, indices: np.ndarray, dim: int) -> np.ndarray:
    """out = axisWarpKernel(image, weights, indices, dim) for a real 2-D or 3-D image."""
    img = image if image.ndim == 3 else image[:, :, None]
    out_dtype = np.dtype(np.uint8) if image.dtype == np.bool_ else image.dtype
    taps, length = weights.shape
    rows, cols, planes = img.shape
    shape = (length, cols, planes) if dim == 1 else (rows, length, planes)
    out = np.empty(shape, dtype=out_dtype)
    for p in range(planes):
        for a in range(shape[0]):
            for b in range(shape[1]):
                j = a if dim == 1 else b
                total = 0.0
                for t in range(taps):
                    src = int(indices[t, j]) - 1
                    sample = img[src, b, p] if dim == 1 else img[a, src, p]
                    total = total + to_double(sample) * float(weights[t, j])
                out[a, b, p] = store(total, out_dtype)
    return out if image.ndim == 3 else out[:, :, 0]
