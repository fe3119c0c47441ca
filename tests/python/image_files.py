"""Test helpers: minimal PNG and TIFF files written and read in pure Python, independently of
the code under test, and deterministic image patterns."""

import struct
import zlib

import numpy as np

_PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# PNG colour types by channel count: grey, grey + alpha, RGB, RGBA.
_PNG_COLOR_TYPE = {1: 0, 2: 4, 3: 2, 4: 6}
_PNG_CHANNELS = {v: k for k, v in _PNG_COLOR_TYPE.items()}


def _as_hwc(image):
    return image if image.ndim == 3 else image[:, :, None]


def write_png(path, image):
    """Writes a uint8 or uint16 H×W or H×W×C array as a non-interlaced PNG (filter type 0)."""
    hwc = _as_hwc(image)
    height, width, channels = hwc.shape
    bits = 8 if hwc.dtype == np.uint8 else 16
    rows = hwc.astype(">u2" if bits == 16 else np.uint8).reshape(height, -1).tobytes()
    stride = width * channels * bits // 8
    raw = b"".join(b"\x00" + rows[y * stride:(y + 1) * stride] for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, bits, _PNG_COLOR_TYPE[channels], 0, 0, 0)
    with open(path, "wb") as f:
        f.write(_PNG_SIGNATURE + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def read_png(path):
    """Reads a non-interlaced 8- or 16-bit grey/GA/RGB/RGBA PNG into an H×W×C array."""
    data = open(path, "rb").read()
    assert data[:8] == _PNG_SIGNATURE, path
    pos, idat = 8, b""
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, bits, color_type, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    assert interlace == 0 and bits in (8, 16)
    channels = _PNG_CHANNELS[color_type]
    bpp = channels * bits // 8
    stride = width * bpp
    raw = zlib.decompress(idat)
    out, previous = bytearray(), bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = previous[i]
            c = previous[i - bpp] if i >= bpp else 0
            predictor = (0, a, b, (a + b) // 2, _paeth(a, b, c))[kind]
            line[i] = (line[i] + predictor) & 0xFF
        out += line
        previous = line
    samples = np.frombuffer(bytes(out), dtype=">u2" if bits == 16 else np.uint8)
    return samples.astype(np.uint16 if bits == 16 else np.uint8).reshape(height, width, channels)


def write_float_tiff(path, image):
    """Writes a float32 H×W×C array (C = 1..4: grey or RGB, the rest alpha) as an
    uncompressed little-endian TIFF in one strip."""
    hwc = _as_hwc(image).astype("<f4")
    height, width, channels = hwc.shape
    colour = 1 if channels <= 2 else 3
    pixels = hwc.tobytes()
    entries = [(256, 4, [width]), (257, 4, [height]), (258, 3, [32] * channels),
               (259, 3, [1]), (262, 3, [1 if colour == 1 else 2]), (273, 4, [0]),
               (277, 3, [channels]), (278, 4, [height]), (279, 4, [len(pixels)]),
               (284, 3, [1]), (339, 3, [3] * channels)]
    if channels > colour:
        entries.append((338, 3, [2] * (channels - colour)))  # unassociated alpha
    entries.sort()
    ifd_offset = 8
    ifd_size = 2 + 12 * len(entries) + 4
    extra = bytearray()  # values that do not fit in an entry
    data_offset = ifd_offset + ifd_size
    encoded = []
    for tag, kind, values in entries:
        fmt = "<" + ("H" if kind == 3 else "I") * len(values)
        blob = struct.pack(fmt, *values)
        encoded.append([tag, kind, len(values), blob])
    for item in encoded:
        if len(item[3]) > 4:
            item.append(data_offset + len(extra))
            extra += item[3] + (b"\0" if len(item[3]) % 2 else b"")
    pixel_offset = data_offset + len(extra)
    out = bytearray(b"II*\0" + struct.pack("<I", ifd_offset) + struct.pack("<H", len(entries)))
    for item in encoded:
        tag, kind, count, blob = item[:4]
        if tag == 273:
            blob = struct.pack("<I", pixel_offset)
        value = struct.pack("<I", item[4]) if len(item) > 4 else blob.ljust(4, b"\0")
        out += struct.pack("<HHI", tag, kind, count) + value
    out += struct.pack("<I", 0) + extra + pixels
    with open(path, "wb") as f:
        f.write(bytes(out))


def read_float_tiff(path):
    """Reads an uncompressed little-endian float TIFF with contiguous samples, in strips, as
    the areafill program writes one that came uncompressed, into an H×W×C float32 array."""
    data = open(path, "rb").read()
    assert data[:4] == b"II*\0", path
    (ifd,) = struct.unpack("<I", data[4:8])
    (count,) = struct.unpack("<H", data[ifd:ifd + 2])
    tags = {}
    sizes = {3: 2, 4: 4}
    for i in range(count):
        tag, kind, n = struct.unpack("<HHI", data[ifd + 2 + 12 * i:ifd + 10 + 12 * i])
        size = sizes.get(kind, 1) * n
        at = ifd + 10 + 12 * i
        where = at if size <= 4 else struct.unpack("<I", data[at:at + 4])[0]
        fmt = "<" + ("H" if kind == 3 else "I" if kind == 4 else "B") * n
        tags[tag] = struct.unpack(fmt, data[where:where + size]) if kind in sizes else None
    assert tags[259] == (1,), "compressed"
    width, height, channels = tags[256][0], tags[257][0], tags[277][0]
    pixels = b"".join(data[o:o + c] for o, c in zip(tags[273], tags[279]))
    return np.frombuffer(pixels, "<f4").astype(np.float32).reshape(height, width, channels)


def pattern(height, width, channels, dtype):
    """A deterministic image: ramps and a checker that reach both ends of the range, with an
    alpha channel (C = 2 or 4) that is opaque except a few fully transparent and partly
    transparent pixels."""
    y, x = np.mgrid[0:height, 0:width]
    planes = []
    for c in range(channels):
        t = ((x * (3 + 2 * c) + y * (5 + c) + 7 * c) % 17) / 16.0
        t = np.where((x + y + c) % 5 == 0, 1.0 - t, t)
        planes.append(t)
    if channels in (2, 4):
        alpha = np.ones((height, width))
        alpha[0, 0] = alpha[height - 1, width // 2] = 0.0
        alpha[1, 2] = 0.5
        planes[-1] = alpha
    t = np.stack(planes, axis=2)
    if dtype == np.float32:
        image = t.astype(np.float32)
    else:
        top = np.iinfo(dtype).max
        image = np.rint(t * top).astype(dtype)
        if dtype == np.uint16:
            image[..., 0] ^= (x % 2).astype(np.uint16)  # odd values: the scale's rounding shows
    return image[:, :, 0] if channels == 1 else image


def disc_mask(height, width, soft=True):
    """A disc of 255 in the middle, with a ring of in-between values when `soft`."""
    y, x = np.mgrid[0:height, 0:width]
    r = np.hypot(y - (height - 1) / 2, x - (width - 1) / 2)
    inner = min(height, width) / 4
    mask = np.where(r <= inner, 255, 0)
    if soft:
        mask = np.where((r > inner) & (r <= inner + 1.5), 100, mask)
    return mask.astype(np.uint8)
