#!/usr/bin/python3
"""Fill a folder of images with their masks on a Dask cluster, one task per image.

Every image NAME.png / NAME.tif / NAME.tiff in INPUT with a mask is filled with areafill and
written to OUTPUT/NAME.<ext>, the same kind of file. The mask of NAME is NAME-mask.<ext> beside
it, or, with --masks DIR, the file of NAME<suffix>.<ext> there: `--masks masks/ --mask-suffix ''`
takes masks of the same names from their own folder (the layout of the GNU parallel recipe).

Each image is a future of its own: a corrupt file, or a worker killed while it worked, is that
image's failure, reported in the summary, while the others finish. Each task writes through a
temporary file renamed into place, so a half-written image never appears; temporary files that
killed workers left are removed before and after the batch. --skip-existing leaves images whose
output exists alone, so an interrupted batch resumes where it stopped. The summary is printed
however the batch ends; the exit status is 1 when an image failed.

Without --scheduler it starts a LocalCluster of worker processes on this machine. With
--scheduler tcp://host:8786 the same code runs on any Dask cluster; the workers then need the
areafill package and must see INPUT and OUTPUT at the same paths (a shared file system). Each
worker process keeps the filter's preferences in a private folder of its own, removed when it
ends, unless --prefs names a folder for them.

    python3 examples/dask_batch.py scans/ filled/ --workers 4
    python3 examples/dask_batch.py scans/ filled/ --masks masks/ --mask-suffix '' --skip-existing
    python3 examples/dask_batch.py /data/scans /data/filled --scheduler tcp://head:8786
"""

import argparse
import os
import sys
import time
import uuid
from pathlib import Path

IMAGE_SUFFIXES = (".png", ".tif", ".tiff")
TEMPORARY_MARK = ".areafill-dask-"  # in the names of the temporary outputs


def find_jobs(input_dir, mask_dir, mask_suffix, output_dir):
    """(image, mask or None, output) for every image of `input_dir`, sorted by name."""
    jobs = []
    for image in sorted(input_dir.iterdir()):
        if image.suffix.lower() not in IMAGE_SUFFIXES or image.name.startswith("."):
            continue
        if mask_dir == input_dir and image.stem.endswith(mask_suffix):
            continue  # a mask itself
        masks = [mask_dir / f"{image.stem}{mask_suffix}{s}" for s in IMAGE_SUFFIXES]
        mask = next((m for m in masks if m.is_file()), None)
        jobs.append((str(image.resolve()), str(mask.resolve()) if mask else None,
                     str((output_dir / image.name).resolve())))
    return jobs


def remove_temporaries(output_dir):
    for leftover in output_dir.glob(f".*{TEMPORARY_MARK}*"):
        leftover.unlink(missing_ok=True)


def fill_one(job, method, prefs):
    """One task: fills one image on whichever worker runs it. Returns (status, message,
    seconds); a failure of the image is reported, not raised."""
    import areafill  # imported on the worker

    image_path, mask_path, output_path = job
    if mask_path is None:
        return "skipped", "no mask", 0.0
    start = time.perf_counter()
    output = Path(output_path)
    temporary = output.with_name(f".{output.stem}{TEMPORARY_MARK}{uuid.uuid4().hex}{output.suffix}")
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
        return "failed", str(error), time.perf_counter() - start
    return "filled", "", time.perf_counter() - start


def run_batch(jobs, method, prefs, client, report):
    """Fills every job on `client`'s cluster, one future per image, calling
    report(image, status, message, seconds) as each ends, in the order they end."""
    from dask.distributed import as_completed

    futures = client.map(fill_one, jobs, method=method, prefs=prefs, pure=False)
    image_of = {future.key: job[0] for future, job in zip(futures, jobs)}
    for future in as_completed(futures):
        try:
            report(image_of[future.key], *future.result())
        except Exception as error:  # noqa: BLE001 - a worker lost while on this image
            report(image_of[future.key], "failed", f"{type(error).__name__}: {error}", 0.0)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input", type=Path, help="folder of images (and masks)")
    parser.add_argument("output", type=Path, help="folder for the filled images (made if missing)")
    parser.add_argument("--masks", type=Path, help="folder of the masks (default: INPUT)")
    parser.add_argument("--mask-suffix", default="-mask",
                        help="NAME<suffix>.<ext> is NAME's mask (default: -mask)")
    parser.add_argument("--method", default="membrane", help="fill method (areafill.METHODS)")
    parser.add_argument("--prefs", help="one Preferences folder for every worker (default: a "
                        "private one per worker process, removed when it ends)")
    parser.add_argument("--skip-existing", action="store_true",
                        help="leave images whose output exists alone (resume a batch)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="worker processes of the local cluster (default: one per CPU)")
    args = parser.parse_args(argv)
    mask_dir = args.masks or args.input
    if mask_dir.resolve() == args.input.resolve() and not args.mask_suffix:
        parser.error("masks beside their images need a --mask-suffix; masks of the same names "
                     "go in a folder of their own (--masks DIR)")

    args.output.mkdir(parents=True, exist_ok=True)
    remove_temporaries(args.output)
    jobs = find_jobs(args.input, mask_dir, args.mask_suffix, args.output)
    if not jobs:
        print(f"dask_batch: no images in {args.input}", file=sys.stderr)
        return 1
    counts, images = {"filled": 0, "skipped": 0, "failed": 0}, len(jobs)
    if args.skip_existing:
        jobs = [job for job in jobs if not Path(job[2]).exists()]
        counts["skipped"] = images - len(jobs)

    def report(image, status, message, seconds):
        counts[status] += 1
        print(f"{status:8} {seconds:7.3f}s  {Path(image).name}" + (f"  ({message})" * bool(message)),
              flush=True)

    import dask
    from dask.distributed import Client, LocalCluster

    start = time.perf_counter()
    cluster = client = None
    try:
        # An image whose task has killed two workers is given up (KilledWorker) and reported.
        with dask.config.set({"distributed.scheduler.allowed-failures": 1}):
            if args.scheduler:
                client = Client(args.scheduler)
            else:
                # One thread per worker process: fills within one process run one at a time.
                cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1,
                                       processes=True, dashboard_address=None)
                client = Client(cluster)
            if jobs:
                run_batch(jobs, args.method, args.prefs, client, report)
    finally:
        if client is not None:
            client.close()
        if cluster is not None:
            cluster.close()
        remove_temporaries(args.output)
        print(f"dask_batch: {counts['filled']} filled, {counts['skipped']} skipped, "
              f"{counts['failed']} failed, {images - sum(counts.values())} not run, "
              f"in {time.perf_counter() - start:.1f}s", flush=True)
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
