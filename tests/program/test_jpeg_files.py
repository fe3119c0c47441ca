"""JPEG through the program with the real filter, judged by ImageMagick: a JPEG filled into a
JPEG changes no pixel outside the 8x8 blocks the mask reaches and says nothing; a PNG written as
JPEG is encoded whole at --quality and says so, even with --quiet."""
import subprocess
from pathlib import Path

import numpy as np

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def grey(path):
    """The samples of a grey image as ImageMagick decodes them."""
    out = subprocess.run(["convert", str(path), "-depth", "8", "gray:-"], capture_output=True,
                         check=True).stdout
    return np.frombuffer(out, np.uint8).reshape(400, 640)


def test_jpeg_keeps_the_blocks_the_mask_leaves_and_a_png_made_jpeg_warns(program):
    mask = EXAMPLES / "ladybird-mask.png"
    subprocess.run(["convert", EXAMPLES / "ladybird.png", "-colorspace", "gray",
                    program.folder / "in.jpg"], check=True)
    done = program("in.jpg", "--mask", mask, "--method", "mean", "-q", "-o", "out.jpg")
    assert (done.returncode, done.stderr) == (0, "")
    ys, xs = np.nonzero(grey(mask))
    changed = np.zeros((400, 640), bool)
    changed[ys.min() // 8 * 8:(ys.max() // 8 + 1) * 8, xs.min() // 8 * 8:(xs.max() // 8 + 1) * 8] = 1
    difference = grey(program.folder / "in.jpg") != grey(program.folder / "out.jpg")
    assert difference.any() and not (difference & ~changed).any()

    done = program(EXAMPLES / "ladybird.png", "--mask", mask, "--method", "mean", "-q",
                   "--quality", "80", "-o", "png.jpg")
    assert done.returncode == 0
    assert done.stderr.startswith("areafill: warning: png.jpg: the whole image is encoded as JPEG "
                                  "at quality 80, with loss")
