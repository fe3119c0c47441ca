"""Deterministic images and masks for the pytest suites (tests/program, tests/python)."""
import numpy as np


def pattern(height, width, channels, dtype):
    """Ramps and a checker reaching both ends of the range, odd values in 16-bit plane 0, and an
    alpha plane (2 or 4 channels) opaque but for a few clear and half-clear pixels."""
    y, x, c = np.mgrid[0:height, 0:width, 0:channels]
    t = ((x * (3 + 2 * c) + y * (5 + c) + 7 * c) % 17) / 16.0
    t = np.where((x + y + c) % 5 == 0, 1.0 - t, t)
    if channels in (2, 4):
        t[..., -1] = 1.0
        t[0, 0, -1] = t[-1, width // 2, -1] = 0.0
        t[1, 2, -1] = 0.5
    if dtype == np.float32:
        image = t.astype(np.float32)
    else:
        image = np.rint(t * np.iinfo(dtype).max).astype(dtype)
        if dtype == np.uint16:
            image[..., 0] ^= (x[..., 0] % 2).astype(np.uint16)
    return image[..., 0] if channels == 1 else image


def disc_mask(height, width, soft=True):
    """A disc of 255 in the middle, with a ring of 100 around it when `soft`."""
    y, x = np.mgrid[0:height, 0:width]
    r = np.hypot(y - (height - 1) / 2, x - (width - 1) / 2)
    inner = min(height, width) / 4
    mask = np.where(r <= inner, 255, np.where(soft & (r <= inner + 1.5), 100, 0))
    return mask.astype(np.uint8)
