"""Deterministic images and masks for the pytest suites (tests/program, tests/python)."""
import struct
import zlib

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
    if np.issubdtype(dtype, np.floating):
        image = t.astype(dtype)
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


ADAM7 = [(0, 0, 8, 8), (0, 4, 8, 8), (4, 0, 8, 4), (0, 2, 4, 4), (2, 0, 4, 2), (0, 1, 2, 2),
         (1, 0, 2, 1)]  # first row and column, then their steps, of each pass


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(image, interlaced=False, header=None, chunks=b""):
    """A PNG of an 8- or 16-bit HxW(xC) array, or of another `header` (width, height, bits,
    colour type) over the same data, with `chunks` before the data."""
    hwc = image.reshape(image.shape[0], image.shape[1], -1)
    rows = hwc.astype(">u2" if image.dtype == np.uint16 else np.uint8)
    raw = b"".join(b"\0" + row.tobytes() for y0, x0, dy, dx in (
        ADAM7 if interlaced else [(0, 0, 1, 1)]) for row in rows[y0::dy, x0::dx] if row.size)
    header = header or (*hwc.shape[1::-1], rows.itemsize * 8, [0, 4, 2, 6][hwc.shape[2] - 1])
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", *header, 0, 0, interlaced))
            + chunks + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
