"""examples/dask_batch.py on a local Dask cluster of two worker processes: every image of a
folder comes out as the areafill program makes it, and an image without a mask is left."""
import os
import subprocess
import sys

import numpy as np

import areafill
from conftest import SOURCE_DIR
from samples import disc_mask, pattern


def test_batch_on_a_local_cluster_matches_the_program(cli, tmp_path):
    images, filled, names = tmp_path / "images", tmp_path / "filled", [f"img{i}" for i in range(4)]
    images.mkdir()
    for i, name in enumerate(names):
        areafill.write_image(images / f"{name}.png", pattern(14 + i, 12, 1 + i, np.uint8 if i % 2 else np.uint16))
        areafill.write_image(images / f"{name}-mask.png", disc_mask(14 + i, 12, i % 2 == 0))
    areafill.write_image(images / "unmasked.png", pattern(8, 8, 1, np.uint8))
    done = subprocess.run(
        [sys.executable, SOURCE_DIR / "examples" / "dask_batch.py", images, filled,
         "--workers", "2", "--prefs", tmp_path / "prefs"],
        capture_output=True, text=True, timeout=300, env=os.environ)
    assert done.returncode == 0 and "4 filled, 1 skipped, 0 failed" in done.stdout, done.stderr
    # Nothing but the outputs: no temporary files, no output for the image without a mask.
    assert sorted(p.name for p in filled.iterdir()) == [f"{n}.png" for n in names]
    for name in names:
        cli(images / f"{name}.png", "--mask", images / f"{name}-mask.png", "--method", "membrane",
            "-o", tmp_path / f"{name}.png")
        np.testing.assert_array_equal(areafill.read_image(filled / f"{name}.png"),
                                      areafill.read_image(tmp_path / f"{name}.png"), err_msg=name)
