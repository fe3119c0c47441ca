"""JPEG through the program with the real filter, judged by ImageMagick: JPEG to JPEG changes no
pixel outside the 8x8 blocks the mask reaches and says nothing (but that a --quality asked for
does not apply); PNG to JPEG warns, even with -q."""
import subprocess
from pathlib import Path

import numpy as np

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def grey(path):
    out = subprocess.run(["convert", path, "-depth", "8", "gray:-"], capture_output=True).stdout
    return np.frombuffer(out, np.uint8).reshape(400, 640)


def test_jpeg_keeps_the_blocks_the_mask_leaves_and_a_png_made_jpeg_warns(program):
    mask, fill = EXAMPLES / "ladybird-mask.png", ("--method", "mean", "-q")
    subprocess.run(["convert", EXAMPLES / "ladybird.png", "-colorspace", "gray",
                    program.folder / "in.jpg"], check=True)
    assert program("in.jpg", "--mask", mask, *fill, "-o", "out.jpg").stderr == ""
    ys, xs = np.nonzero(grey(mask))
    blocks = np.zeros((400, 640), bool)
    blocks[ys.min() // 8 * 8:ys.max() // 8 * 8 + 8, xs.min() // 8 * 8:xs.max() // 8 * 8 + 8] = 1
    changed = grey(program.folder / "in.jpg") != grey(program.folder / "out.jpg")
    assert changed.any() and not (changed & ~blocks).any()
    assert "--quality is not used" in program("in.jpg", "--mask", mask, *fill, "--quality=50",
                                              "-o", "again.jpg").stderr
    done = program(EXAMPLES / "ladybird.png", "--mask", mask, *fill, "--quality=80", "-o", "p.jpg")
    assert done.stderr.startswith("areafill: warning: p.jpg: the whole image is encoded as JPEG at "
                                  "quality 80, with loss")
