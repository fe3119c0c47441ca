"""The module around fill: its constants and docstring examples, and the image files it reads and
writes with the areafill program's own reader and writer."""
import doctest
from pathlib import Path

import numpy as np
import pytest
import tifffile

import areafill
from samples import pattern


def test_methods_version_and_docstring_examples():
    assert areafill.METHODS == ("membrane", "mean", "foreground", "black", "white", "hblend",
                                "vblend")
    assert all(part.isdigit() for part in areafill.__version__.split("."))
    # It runs the filter module that was built beside it, not some other copy.
    assert Path(areafill.filter_module_path()).name == "areafill-filter.so"
    failed, tried = doctest.testmod(areafill, optionflags=doctest.ELLIPSIS)
    assert tried >= 8 and failed == 0


@pytest.mark.parametrize("dtype, channels, name", [
    (np.uint8, 1, "a.png"), (np.uint16, 2, "a.png"), (np.uint16, 4, "a.tif"), (np.float32, 3, "a.tiff")])
def test_images_are_written_as_other_programs_read_them_and_read_back(tmp_path, dtype, channels, name):
    image = pattern(7, 5, channels, dtype)
    areafill.write_image(tmp_path / name, image)
    np.testing.assert_array_equal(areafill.read_image(str(tmp_path / name)), image)
    assert [p.name for p in tmp_path.iterdir()] == [name]  # no temporary file left
    if name != "a.png":
        np.testing.assert_array_equal(tifffile.imread(tmp_path / name), image)
        tifffile.imwrite(tmp_path / name, image, photometric="minisblack" if channels < 3 else "rgb",
                         planarconfig="contig", extrasamples=[2] * (1 - channels % 2))
        np.testing.assert_array_equal(areafill.read_image(tmp_path / name), image)


def test_image_file_errors(tmp_path):
    with pytest.raises(ValueError, match=r"a\.png: .*32-bit float"):
        areafill.write_image(tmp_path / "a.png", np.zeros((2, 2), np.float32))
    with pytest.raises(ValueError, match="image: expected uint8, uint16 or float32 samples"):
        areafill.write_image(tmp_path / "a.png", np.zeros((2, 2), np.int32))
    (tmp_path / "junk.png").write_bytes(b"not an image")
    for name in ("missing.png", "junk.png"):
        with pytest.raises(OSError, match=name):
            areafill.read_image(tmp_path / name)
