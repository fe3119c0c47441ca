#!/usr/bin/python3
"""Fill a folder of images with their masks on a Dask cluster, one task per image.

Every image NAME.png / NAME.tif / NAME.tiff in INPUT with a mask NAME-mask.<ext> beside it
(or in --masks) is filled with areafill and written to OUTPUT/NAME.<ext>, the same kind of
file. Each task reads its own files and writes its own output, through a temporary file
renamed into place, so a half-written image never appears and a task that is retried or
killed leaves nothing behind. Images without a mask are reported and left alone.

Without --scheduler it starts a LocalCluster of worker processes on this machine. With
--scheduler tcp://host:8786 the same code runs on any Dask cluster; the workers then need
the areafill module and must see INPUT and OUTPUT at the same paths (a shared file system).

    python3 examples/dask_batch.py scans/ filled/ --workers 4
    python3 examples/dask_batch.py /data/scans /data/filled --scheduler tcp://head:8786
"""

import argparse
import os
import socket
import sys
import tempfile
import time
import uuid
from pathlib import Path

IMAGE_SUFFIXES = (".png", ".tif", ".tiff")


def find_jobs(input_dir, mask_dir, mask_suffix, output_dir):
    """(image, mask or None, output) for every image of `input_dir`, sorted by name."""
    jobs = []
    for image in sorted(input_dir.iterdir()):
        if image.suffix.lower() not in IMAGE_SUFFIXES or image.stem.endswith(mask_suffix):
            continue
        masks = [mask_dir / f"{image.stem}{mask_suffix}{s}" for s in IMAGE_SUFFIXES]
        mask = next((m for m in masks if m.is_file()), None)
        jobs.append((str(image.resolve()), str(mask.resolve()) if mask else None,
                     str((output_dir / image.name).resolve())))
    return jobs


def fill_one(job, method, prefs):
    """One task: fills one image on whichever worker runs it. Returns (name, status,
    message, seconds); a failure is reported, not raised, so one bad file does not stop
    the batch."""
    import areafill  # imported on the worker

    # Each worker process gets a Preferences folder of its own: processes that shared one
    # would share the filter's preferences file and its scratch files.
    prefs = os.path.join(prefs or os.path.join(tempfile.gettempdir(), "areafill-dask"),
                         f"worker-{socket.gethostname()}-{os.getpid()}")
    image_path, mask_path, output_path = job
    name = os.path.basename(image_path)
    if mask_path is None:
        return name, "skipped", "no mask", 0.0
    start = time.perf_counter()
    output = Path(output_path)
    temporary = output.with_name(f".{output.stem}.{uuid.uuid4().hex}.tmp{output.suffix}")
    try:
        image = areafill.read_image(image_path)
        mask = areafill.read_image(mask_path)
        if mask.ndim != 2:
            raise ValueError(f"{mask_path}: a mask must be a grey image")
        if mask.dtype != "uint8":  # 16-bit masks as the areafill program reads them
            mask = (mask >> 8).astype("uint8")
        filled = areafill.fill(image, mask, method=method, prefs=prefs)
        areafill.write_image(temporary, filled)
        os.replace(temporary, output)  # atomic on one file system
    except Exception as error:  # noqa: BLE001 - reported per image
        temporary.unlink(missing_ok=True)
        return name, "failed", str(error), time.perf_counter() - start
    return name, "filled", "", time.perf_counter() - start


def run_batch(jobs, method, prefs, client):
    """Fills every job on `client`'s cluster: a dask.bag of one partition per image."""
    import dask.bag as db

    bag = db.from_sequence(jobs, npartitions=max(1, len(jobs)))
    return bag.map(fill_one, method=method, prefs=prefs).compute(scheduler=client.get)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input", type=Path, help="folder of images and masks")
    parser.add_argument("output", type=Path, help="folder for the filled images (made if missing)")
    parser.add_argument("--masks", type=Path, help="folder of the masks (default: INPUT)")
    parser.add_argument("--mask-suffix", default="-mask",
                        help="NAME<suffix>.<ext> is NAME's mask (default: -mask)")
    parser.add_argument("--method", default="membrane", help="fill method (areafill.METHODS)")
    parser.add_argument("--prefs", help="folder for the workers' Preferences folders "
                        "(default: areafill-dask in the workers' temporary folder)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="worker processes of the local cluster (default: one per CPU)")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    args.output.mkdir(parents=True, exist_ok=True)
    jobs = find_jobs(args.input, args.masks or args.input, args.mask_suffix, args.output)
    if not jobs:
        print(f"dask_batch: no images in {args.input}", file=sys.stderr)
        return 1

    start = time.perf_counter()
    if args.scheduler:
        client = Client(args.scheduler)
        cluster = None
    else:
        # One thread per worker process: fills within one process run one at a time.
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        results = run_batch(jobs, args.method, args.prefs, client)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    failed = 0
    for name, status, message, seconds in results:
        print(f"{status:8} {seconds:7.3f}s  {name}" + (f"  ({message})" if message else ""))
        failed += status == "failed"
    filled = sum(status == "filled" for _, status, _, _ in results)
    print(f"dask_batch: {filled} filled, {len(results) - filled - failed} skipped, "
          f"{failed} failed in {time.perf_counter() - start:.1f}s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
