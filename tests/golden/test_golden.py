"""Golden end-to-end runs: every fill method on small files of each kind, through the program.
Each output's decoded pixels must hash to the value in expected.txt, so that a change of any
output bit on any machine or in any version is seen. AREAFILL_GOLDEN_UPDATE=1 rewrites the file
(only after a change that is meant to alter output)."""
import hashlib
import os
import pathlib
import sys

import pytest
import tifffile

import areafill

HERE = pathlib.Path(__file__).parent
sys.path.insert(0, str(HERE.parent / "support"))
from program_runner import Program  # noqa: E402
EXPECTED = HERE / "expected.txt"
METHODS = ["membrane", "mean", "foreground", "black", "white", "hblend", "vblend"]
CASES = [(name, "mask.png") for name in
         ["grey8.png", "rgb16.png", "grey16.tif", "cmyk8.tif", "lab16.tif", "rgb8-extras.tif"]]
CASES += [("grey8.png", None), ("rgba8.png", None)]  # the outer ring, transparency


def pixel_hash(path):
    pixels = tifffile.imread(path) if path.suffix == ".tif" else areafill.read_image(str(path))
    digest = hashlib.sha256(f"{pixels.dtype.str} {pixels.shape}".encode())
    digest.update(pixels.tobytes())
    return digest.hexdigest()


def run(program, image, mask, method, inputs=HERE / "inputs"):
    out = program.folder / f"{method}-{image}"
    args = [inputs / image, "-o", out, "--method", method, "--fg", "#2f4a1c", "--bg", "#b9cf86",
            "--quiet"]
    if mask:
        args += ["--mask", inputs / mask]
    done = program(*args)
    assert done.returncode == 0, done.stderr
    return f"{image} {mask or '-'} {method} {pixel_hash(out)}"


@pytest.mark.parametrize("image_memory", [None, "0"], ids=["in-memory", "rows-on-disk"])
def test_outputs_match_their_recorded_hashes(tmp_path, image_memory):
    """Also with every copy of the image the program makes held on disk, row by row, as an image
    larger than memory is."""
    program = Program(tmp_path)
    if image_memory:
        program.env["AREAFILL_IMAGE_MEMORY"] = image_memory
    lines = [run(program, image, mask, method) for image, mask in CASES for method in METHODS]
    lines.append(run(program, "ladybird.png", "ladybird-mask.png", "membrane",
                     HERE.parent.parent / "examples"))
    if os.environ.get("AREAFILL_GOLDEN_UPDATE") == "1":
        EXPECTED.write_text("\n".join(lines) + "\n")
        pytest.skip("expected.txt rewritten")
    expected = EXPECTED.read_text().splitlines()
    assert [l for l in lines if l not in expected] == [], "outputs differ from expected.txt"
