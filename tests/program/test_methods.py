"""Fills through the program (every method's every output bit is pinned by tests/golden): the
colours, a white fill in one image of each kind, and the host's masking of a soft selection
against --raw."""
import numpy as np
import pytest

from conftest import block
from samples import pattern

def test_colours_are_black_and_white_unless_fg_and_bg_name_them_in_hex(program):
    image = pattern(9, 12, 3, np.uint8)
    for colours, first, last in [([], (0, 0, 0), (255, 255, 255)),
                                 (["--fg", "#1a2B3c", "--bg", "#FF0080"], (26, 43, 60), (255, 0, 128))]:
        said, out = program.fill(image, block(), "--method", "hblend", *colours)
        assert "filled with hblend (" in said and (out[block() == 0] == image[block() == 0]).all()
        assert (out[2:7, 3] == first).all()  # the blend runs from the foreground colour towards
        assert (abs(out[2:7, 9].astype(int) - last) < abs(out[2:7, 3].astype(int) - last)).all()


# White in each file's own terms: CMYK and Lab come back from the filter's RGB working image
# through its conversions, so white keeps a little ink, and Lab's a and b are 0.
@pytest.mark.parametrize("kind, dtype, white", [
    ("grey", np.uint8, [255]), ("greya", np.uint16, [65535, None]), ("rgb", np.uint16, [65535] * 3),
    ("cmyk", np.uint8, [24, 0, 0, 1]), ("lab", np.uint8, [255, 0, 0]),
    ("rgb", np.float32, [1.0] * 3)])  # None: as it was (alpha); floats through the 16-bit scale
def test_white_fill_in_each_kind_of_image(program, kind, dtype, white):
    image = pattern(9, 12, len(white), dtype)
    said, out = program.fill(image, block(), "--method", "white", kind=kind)
    assert out.dtype == image.dtype and out.shape == image.shape
    want = image.reshape(9, 12, -1).copy()
    for channel, value in enumerate(white):
        want[2:7, 3:10, channel] = want[2:7, 3:10, channel] if value is None else value
    assert (out == want.reshape(image.shape)).all()
    assert "filled with white" in said


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
