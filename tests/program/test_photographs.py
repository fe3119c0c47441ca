"""A photograph's files through the program, grouped by kind: float images, masks as users make
them, inputs of every kind, orientation, and what the file carries besides its pixels. The corpus
is made here from examples/ladybird.png, with ImageMagick, libtiff's tools and exiftool writing
and judging the files."""
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

from conftest import block
from samples import pattern

LADYBIRD = Path(__file__).resolve().parents[2] / "examples" / "ladybird.png"
WARNING = "areafill: warning: "


def tool(*args):
    """Runs an independent tool; returns its stdout."""
    done = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


# Float images: filled on the 16-bit scale with s = the largest colour sample of the filter
# area, so HDR values survive; --float pass leaves them unfilled, and says so under --quiet.
def test_float_images_are_filled_keeping_hdr_values_unless_passed(program):
    image = pattern(9, 12, 4, np.float32) * np.array([4, 2, 1, 1], np.float32)
    s = image[2:7, 3:10, :3].max()
    said, out = program.fill(image, block(), "--method", "white", "-q", kind="rgba")
    want = image.copy()
    want[2:7, 3:10, :3] = s  # white is 32768 on the 16-bit scale: s itself
    assert said == "" and s > 1 and (out == want).all()
    said, out = program.fill(image, block(), "--method", "white", "-q", "--float", "pass",
                             kind="rgba")
    assert said == WARNING + "32-bit float image written back unfilled (--float pass)\n"
    assert (out == image).all()
