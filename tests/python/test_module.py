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


def test_pages_metadata_and_masks_as_displayed_go_through_python(tmp_path):
    pages = [pattern(6, 8, 3, np.uint8), pattern(6, 8, 3, np.uint8)[::-1].copy()]
    with tifffile.TiffWriter(tmp_path / "in.tif") as tiff:
        for page in pages:  # shown turned clockwise (orientation 6): 6 wide, 8 high
            tiff.write(page, photometric="rgb", compression="zlib", description="a page",
                       resolution=(300, 300), extratags=[(274, 3, 1, 6, True)])
    image, info = areafill.read_image(tmp_path / "in.tif", page=2, info=True)
    assert (image == pages[1]).all() and (info["page"], info["pages"], info["orientation"]) == (2, 2, 6)
    assert info["resolution"][:2] == (300, 300) and ("ImageDescription", "a page") in info["text"]
    shown = np.zeros((8, 6), np.uint8)
    shown[0] = 1  # the top row as displayed, in 0s and 1s: stored column 0
    areafill.write_image(tmp_path / "mask.png", shown)
    with pytest.warns(RuntimeWarning, match="only 0 and 1; taken as 0 and 255"):
        mask = areafill.read_mask(tmp_path / "mask.png", image.shape, info["orientation"])
    assert (mask[:, 0] == 255).all() and mask[:, 1:].sum() == 0
    areafill.write_image(tmp_path / "out.tif", areafill.fill(image, mask, method="white"), info=info)
    with tifffile.TiffFile(tmp_path / "out.tif") as out:
        assert (out.pages[0].asarray() == pages[0]).all() and len(out.pages) == 2
        want = pages[1].copy()
        want[:, 0] = 255
        assert (out.pages[1].asarray() == want).all() and out.pages[1].tags[274].value == 6
        assert out.pages[1].description == "a page" and out.pages[1].compression == 8
