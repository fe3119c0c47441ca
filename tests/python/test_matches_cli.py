"""areafill.fill gives the same pixels as the areafill program on the same files: every
method, depth and mode an array can express, with a mask, with a raw mask and without one."""

import itertools
import warnings

import numpy as np
import pytest

import areafill
from image_files import disc_mask, pattern, read_float_tiff, read_png, write_float_tiff, write_png

FG, BG = (10, 200, 30), (250, 5, 128)
SELECTIONS = ("mask", "raw", "none")


def _hex(rgb):
    return "#" + "".join(f"{v:02x}" for v in rgb)


def _cli_args(tmp_path, method, selection, mask):
    args = ["--method", method, "--fg", _hex(FG), "--bg", _hex(BG)]
    if selection != "none":
        write_png(tmp_path / "mask.png", mask)
        args += ["--mask", tmp_path / "mask.png"]
    if selection == "raw":
        args.append("--raw")
    return args


def _fill(image, method, selection, mask):
    return areafill.fill(image, None if selection == "none" else mask, method=method,
                         fg=FG, bg=BG, raw=selection == "raw")


@pytest.mark.parametrize("method, dtype, channels, selection", itertools.product(
    areafill.METHODS, (np.uint8, np.uint16), (1, 2, 3, 4), SELECTIONS))
def test_integer_images_match_the_program(cli, tmp_path, method, dtype, channels, selection):
    image = pattern(13, 11, channels, dtype)
    mask = disc_mask(13, 11)
    write_png(tmp_path / "in.png", image)
    cli(tmp_path / "in.png", "-o", tmp_path / "out.png",
        *_cli_args(tmp_path, method, selection, mask))
    expected = read_png(tmp_path / "out.png")

    got = _fill(image, method, selection, mask)

    assert got.dtype == image.dtype and got.shape == image.shape
    np.testing.assert_array_equal(got.reshape(expected.shape), expected)


@pytest.mark.parametrize("channels, selection", itertools.product((1, 2, 3, 4), SELECTIONS))
def test_float_images_match_the_program(cli, tmp_path, channels, selection):
    # The filter writes 32-bit images back unfilled; the host's masking still blends them.
    image = pattern(9, 12, channels, np.float32)
    mask = disc_mask(9, 12)
    write_float_tiff(tmp_path / "in.tif", image)
    cli(tmp_path / "in.tif", "-o", tmp_path / "out.tif",
        *_cli_args(tmp_path, "membrane", selection, mask))
    expected = read_float_tiff(tmp_path / "out.tif")

    with pytest.warns(RuntimeWarning, match="no fill"):
        got = _fill(image, "membrane", selection, mask)

    assert got.dtype == np.float32 and got.shape == image.shape
    np.testing.assert_array_equal(got.reshape(expected.shape), expected)


def test_sixteen_bit_samples_outside_the_selection_come_back_exactly():
    # Odd values and 65535 do not survive the 0..32768 scale's round trip on their own.
    image = pattern(12, 12, 3, np.uint16)
    mask = disc_mask(12, 12, soft=False)
    got = areafill.fill(image, mask)
    outside = mask == 0
    np.testing.assert_array_equal(got[outside], image[outside])
    assert (got[mask == 255] != image[mask == 255]).any()


def test_the_result_fills_the_hole_from_its_edge():
    # Left half dark, right half light: the filled hole ramps between them.
    image = np.zeros((32, 32), np.uint8)
    image[:, 16:] = 240
    mask = np.zeros((32, 32), bool)
    mask[8:24, 6:26] = True
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        row = areafill.fill(image, mask)[16].astype(int)
    assert row[5] == 0 and row[26] == 240
    assert np.all(np.diff(row[6:26]) >= 0) and 0 < row[16] < 240
