from typing import Any, Literal, Sequence

import numpy as np
import numpy.typing as npt

Kernel = Literal["nearest", "box", "triangle", "cubic", "lanczos2", "lanczos3"]
Border = Literal["symmetric", "replicate", "reflect", "mirror", "wrap", "constant"]

__version__: str
MAX_LENGTH: int
DTYPES: tuple[np.dtype, ...]
KERNELS: tuple[str, ...]
BORDERS: tuple[str, ...]

class ModuleError(ValueError):
    identifier: str
    message: str
    def __init__(self, identifier: str, message: str) -> None: ...

def call(*args: Any, out: np.ndarray | None = ...) -> np.ndarray: ...
def tables(n: int, m: int, *, kernel: Kernel = ..., antialias: bool = ..., border: Border = ...,
           scale: float | None = ..., cval: float = ...) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]: ...
def resize_axis(array: npt.ArrayLike, axis: int, weights: npt.ArrayLike, indices: npt.ArrayLike, *,
                out: np.ndarray | None = ...) -> np.ndarray: ...
def resize(array: npt.ArrayLike, shape: int | Sequence[int] | None = ..., *, axes: int | Sequence[int] | None = ...,
           zoom: float | Sequence[float] | None = ..., kernel: Kernel = ..., antialias: bool = ...,
           border: Border = ..., precise: bool = ..., linear: bool = ..., out: np.ndarray | None = ...,
           cval: float = ...) -> np.ndarray: ...
def plan(shape: Sequence[int], new_shape: int | Sequence[int] | None = ..., *, axes: int | Sequence[int] | None = ...,
         zoom: float | Sequence[float] | None = ..., kernel: Kernel = ..., antialias: bool = ...,
         border: Border = ..., cval: float = ...) -> list[tuple[int, npt.NDArray[np.float64], npt.NDArray[np.float64]]]: ...
def module_path() -> str: ...
def live_counts() -> tuple[int, int, int]: ...
