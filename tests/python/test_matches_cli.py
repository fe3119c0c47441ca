"""areafill.fill gives the pixels the areafill program gives on the same files: one case for
each sample type and channel count, the methods and the selections taken in turn."""
import numpy as np
import pytest

import areafill
from samples import disc_mask, pattern

CASES = [(dtype, channels) for dtype in (np.uint8, np.uint16, np.float32) for channels in range(1, 5)]


@pytest.mark.parametrize("case", range(len(CASES)))
def test_fill_matches_the_program(cli, tmp_path, case):
    (dtype, channels), method = CASES[case], areafill.METHODS[case % 7]
    selection = ("mask", "raw", "none")[case % 3]
    image, mask = pattern(13, 11, channels, dtype), disc_mask(13, 11)
    suffix = ".tif" if dtype == np.float32 else ".png"
    areafill.write_image(tmp_path / f"in{suffix}", image)
    args = ["--method", method, "--fg", "#0ac81e", "--bg", "#fa0580"]
    if selection != "none":
        areafill.write_image(tmp_path / "mask.png", mask)
        args += ["--mask", tmp_path / "mask.png"] + ["--raw"] * (selection == "raw")
    cli(tmp_path / f"in{suffix}", "-o", tmp_path / f"out{suffix}", *args)
    got = areafill.fill(image, None if selection == "none" else mask, method=method,
                        fg=(10, 200, 30), bg=(250, 5, 128), raw=selection == "raw")
    assert got.dtype == image.dtype and got.shape == image.shape
    np.testing.assert_array_equal(got, areafill.read_image(tmp_path / f"out{suffix}").reshape(
        image.shape))
