"""The areafill package: the filter on NumPy arrays.

The work is done by the extension `areafill._areafill` (src/python/areafill_module.cpp), which
runs the filter module shipped inside this package. This file gives its functions real Python
signatures (for inspect.signature, IDEs and help()) and widens float64 images, which the
extension does not take, through float32 with every sample the fill leaves alone kept exact.
"""
import numpy as _np

from . import _areafill
from ._areafill import METHODS, Cancelled, __version__

__all__ = ["fill", "read_image", "write_image", "read_mask", "filter_module_path", "METHODS",
           "Cancelled", "__version__"]
__doc__ = _areafill.__doc__


def fill(image, mask=None, method="membrane", fg=(0, 0, 0), bg=(255, 255, 255), raw=False,
         progress=None, prefs=None, float_mode="fill"):
    if isinstance(image, _np.ndarray) and image.dtype == _np.float64:
        narrow = image.astype(_np.float32)
        filled = _areafill.fill(narrow, mask, method, fg, bg, raw, progress, prefs, float_mode)
        # Only what the fill changed takes its float32 value; every other sample stays the
        # caller's own float64.
        out = image.copy()
        changed = (filled != narrow) & ~(_np.isnan(filled) & _np.isnan(narrow))
        out[changed] = filled[changed]
        return out
    return _areafill.fill(image, mask, method, fg, bg, raw, progress, prefs, float_mode)


def read_image(path, page=1, info=False):
    return _areafill.read_image(path, page, info)


def write_image(path, image, info=None):
    return _areafill.write_image(path, image, info)


def read_mask(path, shape, orientation=1, stored=False):
    return _areafill.read_mask(path, shape, orientation, stored)


def filter_module_path():
    return _areafill.filter_module_path()


for _function in (fill, read_image, write_image, read_mask, filter_module_path):
    _function.__doc__ = getattr(_areafill, _function.__name__).__doc__
del _function
