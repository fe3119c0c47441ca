"""examples/dask_batch.py on a local Dask cluster of two worker processes: every image of a
folder comes out as the areafill program makes it, and images without a mask are left."""

import os
import subprocess
import sys

import numpy as np

from conftest import SOURCE_DIR
from image_files import disc_mask, pattern, read_png, write_png

KINDS = [(np.uint8, 1), (np.uint8, 3), (np.uint8, 4), (np.uint16, 1), (np.uint16, 2),
         (np.uint16, 3), (np.uint16, 4), (np.uint8, 2)]


def test_batch_on_a_local_cluster_matches_the_program(cli, tmp_path):
    images, filled = tmp_path / "images", tmp_path / "filled"
    images.mkdir()
    names = []
    for i in range(20):
        dtype, channels = KINDS[i % len(KINDS)]
        height, width = 14 + i % 5, 12 + i % 7
        name = f"img{i:02}"
        write_png(images / f"{name}.png", pattern(height, width, channels, dtype))
        write_png(images / f"{name}-mask.png", disc_mask(height, width, soft=i % 2 == 0))
        names.append(name)
    write_png(images / "unmasked.png", pattern(8, 8, 1, np.uint8))

    done = subprocess.run(
        [sys.executable, SOURCE_DIR / "examples" / "dask_batch.py", images, filled,
         "--workers", "2", "--prefs", tmp_path / "prefs"],
        capture_output=True, text=True, timeout=300, env=os.environ)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "20 filled, 1 skipped, 0 failed" in done.stdout

    # Nothing but the outputs: no temporary files, no output for the image without a mask.
    assert sorted(p.name for p in filled.iterdir()) == [f"{n}.png" for n in names]
    for name in names:
        expected = tmp_path / f"{name}-program.png"
        cli(images / f"{name}.png", "--mask", images / f"{name}-mask.png",
            "--method", "membrane", "-o", expected)
        np.testing.assert_array_equal(read_png(filled / f"{name}.png"), read_png(expected),
                                      err_msg=name)
