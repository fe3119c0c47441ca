# Type stubs for the areafill package (src/python/areafill/__init__.py over the extension).
from os import PathLike
from typing import Any, Callable, Dict, Literal, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str
METHODS: Tuple[str, ...]

_Image = Union[npt.NDArray[np.uint8], npt.NDArray[np.uint16], npt.NDArray[np.float32],
               npt.NDArray[np.float64]]
_Mask = Union[npt.NDArray[np.uint8], npt.NDArray[np.bool_]]
_Path = Union[str, bytes, PathLike[str], PathLike[bytes]]

class Cancelled(KeyboardInterrupt):
    """Raised when a fill is cancelled through its progress callback."""

def fill(
    image: _Image,
    mask: Optional[_Mask] = None,
    method: str = "membrane",
    fg: Union[Sequence[int], str] = (0, 0, 0),
    bg: Union[Sequence[int], str] = (255, 255, 255),
    raw: bool = False,
    progress: Optional[Callable[[int, int], Optional[bool]]] = None,
    prefs: Optional[_Path] = None,
    float_mode: Literal["fill", "pass"] = "fill",
) -> np.ndarray: ...
def read_image(path: _Path, page: int = ..., info: bool = ...) -> Any: ...
def write_image(path: _Path, image: _Image, info: Optional[Dict[str, Any]] = ...) -> None: ...
def read_mask(path: _Path, shape: Sequence[int], orientation: int = ...,
              stored: bool = ...) -> npt.NDArray[np.uint8]: ...
def filter_module_path() -> str: ...
