"""examples/dask_batch.py survives what a batch meets: a worker killed while the batch runs and
a corrupt file are one image's failure each while every other image is filled right, nothing
partial is left (a stale temporary file of an earlier batch included), the summary is printed,
and --skip-existing resumes. Masks come from a folder of their own under the images' names."""
import importlib.util
import os
import signal
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import areafill
from samples import disc_mask, pattern

distributed = pytest.importorskip("distributed")
loader = importlib.util.spec_from_file_location(
    "dask_batch", Path(__file__).resolve().parents[2] / "examples/dask_batch.py")
dask_batch = importlib.util.module_from_spec(loader)
loader.loader.exec_module(dask_batch)


def test_a_killed_worker_and_a_corrupt_file_fail_alone(tmp_path, capsys):
    images, masks, out = tmp_path / "images", tmp_path / "masks", tmp_path / "out"
    for folder in (images, masks, out):
        folder.mkdir()
    cases = {f"{i}.png": (pattern(400, 380 + i, 3, np.uint8), disc_mask(400, 380 + i))
             for i in range(6)}
    for name, (image, mask) in cases.items():
        areafill.write_image(images / name, image)
        areafill.write_image(masks / name, mask)
    (images / "corrupt.png").write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(64))
    areafill.write_image(masks / "corrupt.png", disc_mask(8, 8))
    (out / f".0{dask_batch.TEMPORARY_MARK}stale.png").write_bytes(b"half an image")

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        victim = next(iter(client.run(os.getpid).values()))

        def kill_a_worker_once_the_batch_runs():
            while not any(out.glob("[0-9].png")):
                time.sleep(0.01)
            os.kill(victim, signal.SIGKILL)

        killer = threading.Thread(target=kill_a_worker_once_the_batch_runs, daemon=True)
        killer.start()
        args = [images, out, "--masks", masks, "--mask-suffix", "", "--scheduler",
                cluster.scheduler_address]
        assert dask_batch.main([str(a) for a in args]) == 1
        killer.join(timeout=60)
        assert "6 filled, 0 skipped, 1 failed, 0 not run" in capsys.readouterr().out
        assert sorted(p.name for p in out.iterdir()) == sorted(cases)
        for name, (image, mask) in cases.items():
            np.testing.assert_array_equal(areafill.read_image(out / name), areafill.fill(image, mask))

        assert dask_batch.main([str(a) for a in args + ["--skip-existing"]]) == 1
        assert "0 filled, 6 skipped, 1 failed" in capsys.readouterr().out
