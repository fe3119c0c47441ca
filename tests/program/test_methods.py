"""Fills through the program: what each method puts in the selection, a white fill in one image
of each kind, the host's masking of a soft selection against --raw, and transparency as the
selection."""
import numpy as np
import pytest

from conftest import block
from samples import pattern

AROUND = (40, 120, 200)


def ramps(b):
    """From the default foreground, black, rising along axis 0, never white, even across axis 1."""
    b = b.astype(int)
    return (b[0] == 0).all() and (np.diff(b, axis=0) >= 0).all() and (b < 255).all() and (
        b == b[:, :1]).all() and b[-1, -1, 0] > 100


CHECKS = {"membrane": lambda b, i: (abs(b - np.array(AROUND)) <= 1).all(),
          "mean": lambda b, i: (abs(b - i.reshape(-1, 3).mean(0).astype(int)) <= 1).all(),
          "foreground": lambda b, i: (b == (0x12, 0x34, 0x56)).all(),
          "black": lambda b, i: (b == 0).all(), "white": lambda b, i: (b == 255).all(),
          "hblend": lambda b, i: ramps(b.swapaxes(0, 1)), "vblend": lambda b, i: ramps(b)}


@pytest.mark.parametrize("method", CHECKS)
def test_each_method_fills_the_selection_and_nothing_else(program, method):
    # The block's rim keeps the colour around it: the membrane takes its edge from there.
    image = np.empty((9, 12, 3), np.uint8)
    image[:] = AROUND
    image[3:6, 5:9] = pattern(3, 4, 3, np.uint8)
    said, out = program.fill(image, block(), "--method", method,
                             *(["--fg", "#123456"] if method == "foreground" else []))
    assert f"filled with {method} (" in said
    assert (out[block() == 0] == image[block() == 0]).all()
    assert CHECKS[method](out[2:7, 3:10].astype(int), image[2:7, 3:10].astype(int))


# White in each file's own terms: CMYK and Lab come back from the filter's RGB working image
# through its conversions, so white keeps a little ink, and Lab's a and b are 0.
@pytest.mark.parametrize("kind, dtype, white", [
    ("grey", np.uint8, [255]), ("greya", np.uint16, [65535, None]), ("rgb", np.uint16, [65535] * 3),
    ("cmyk", np.uint8, [24, 0, 0, 1]), ("lab", np.uint8, [255, 0, 0]),
    ("rgb", np.float32, [None] * 3)])  # None: as it was (alpha; 32-bit images are not filled)
def test_white_fill_in_each_kind_of_image(program, kind, dtype, white):
    image = pattern(9, 12, len(white), dtype)
    said, out = program.fill(image, block(), "--method", "white", kind=kind)
    assert out.dtype == image.dtype and out.shape == image.shape
    want = image.reshape(9, 12, -1).copy()
    for channel, value in enumerate(white):
        want[2:7, 3:10, channel] = want[2:7, 3:10, channel] if value is None else value
    assert (out == want.reshape(image.shape)).all()
    assert ("no fill (32-bit" if dtype == np.float32 else "filled with white") in said


@pytest.mark.parametrize("kind, dtype", [("rgba", np.uint8), ("grey", np.uint16)])
def test_masking_blends_the_raw_fill_into_the_colour_planes_by_the_mask_bytes(program, kind, dtype):
    image = pattern(9, 12, 4 if kind == "rgba" else 1, dtype)
    y, x = np.mgrid[0:9, 0:12]
    mask = np.where(block() > 0, (x * 61 + y * 29) % 256, 0).astype(np.uint8)
    mask[4, 6] = 255
    raw = program.fill(image, mask, "--method", "membrane", "--raw", kind=kind)[1]
    masked = program.fill(image, mask, "--method", "membrane", "-q", kind=kind)
    assert masked[0] == "" and (raw != image).any() and (raw[block() == 0] == image[block() == 0]).all()
    # Masking works on the host's 0..32768 scale, and an unchanged 16-bit sample keeps its value.
    was, got, m = (a.astype(np.int64).reshape(9, 12, -1) for a in (image, raw, mask))
    host = (lambda v: v) if dtype == np.uint8 else (lambda v: (v * 32768 + 32767) // 65535)
    h = (host(got) * m + host(was) * (255 - m) + 127) // 255
    if dtype == np.uint16:
        h = np.where(h == host(was), was, np.where(h > 32768, 65535, (h * 65535 + 16384) // 32768))
    want = np.concatenate([h[..., :3], got[..., 3:]], axis=2)  # extra planes as the filter left them
    assert (masked[1].reshape(want.shape) == want).all()


def test_without_a_mask_the_opaque_pixels_are_the_selection(program):
    # The clear pixels read as white, and the alpha plane comes back as it was.
    image = pattern(9, 12, 4, np.uint8)
    image[..., 3] = block()
    out = program.fill(image, None, "--method", "black", kind="rgba")[1]
    assert (out[..., :3] == np.where(block() > 0, 0, 255)[..., None]).all()
    assert (out[..., 3] == image[..., 3]).all()
