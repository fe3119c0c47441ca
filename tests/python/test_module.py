"""The module around fill: its constants, type stubs and docstring examples, and the image
files it reads and writes with the areafill program's own reader and writer."""

import ast
import doctest
from pathlib import Path

import numpy as np
import pytest

import areafill
from image_files import pattern, read_png, write_png


def test_methods_and_version():
    assert areafill.METHODS == ("membrane", "mean", "foreground", "black", "white", "hblend",
                                "vblend")
    assert all(part.isdigit() for part in areafill.__version__.split("."))
    # It runs the filter module that was built beside it, not some other copy.
    assert Path(areafill.filter_module_path()).name == "areafill-filter.so"


def test_stubs_declare_exactly_the_public_names():
    stubs = Path(areafill.__file__).with_name("areafill.pyi")
    tree = ast.parse(stubs.read_text())
    declared = set()
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            declared.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            declared.add(node.target.id)
    public = {name for name in dir(areafill) if not name.startswith("_")} | {"__version__"}
    assert {name for name in declared if not name.startswith("_")} | {"__version__"} == public


def test_docstring_examples_run():
    failed, tried = doctest.testmod(areafill, optionflags=doctest.ELLIPSIS)
    assert tried >= 8 and failed == 0


@pytest.mark.parametrize("dtype, channels, name", [
    (np.uint8, 1, "a.png"), (np.uint8, 4, "a.png"), (np.uint16, 2, "a.png"),
    (np.uint16, 3, "a.tif"), (np.float32, 1, "a.tiff"), (np.float32, 4, "a.tif"),
])
def test_images_written_are_read_back_exactly(tmp_path, dtype, channels, name):
    image = pattern(7, 5, channels, dtype)
    areafill.write_image(tmp_path / name, image)
    back = areafill.read_image(str(tmp_path / name))
    assert back.dtype == image.dtype and back.shape == image.shape
    np.testing.assert_array_equal(back, image)
    assert sorted(p.name for p in tmp_path.iterdir()) == [name]  # no temporary file left


def test_files_are_those_other_programs_write_and_read(tmp_path):
    image = pattern(6, 9, 4, np.uint16)
    write_png(tmp_path / "theirs.png", image)
    np.testing.assert_array_equal(areafill.read_image(tmp_path / "theirs.png"), image)
    areafill.write_image(tmp_path / "ours.png", image)
    np.testing.assert_array_equal(read_png(tmp_path / "ours.png"), image)


def test_image_file_errors(tmp_path):
    with pytest.raises(ValueError, match=r"a\.png: .*32-bit float"):
        areafill.write_image(tmp_path / "a.png", np.zeros((2, 2), np.float32))
    with pytest.raises(ValueError, match="image: expected uint8, uint16 or float32"):
        areafill.write_image(tmp_path / "a.png", np.zeros((2, 2), np.int32))
    with pytest.raises(OSError, match="missing.png"):
        areafill.read_image(tmp_path / "missing.png")
    (tmp_path / "junk.png").write_bytes(b"not an image")
    with pytest.raises(OSError, match="junk.png"):
        areafill.read_image(tmp_path / "junk.png")
