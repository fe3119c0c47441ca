#!/usr/bin/python3
"""Times OpenCV's Telea inpainting (cv2.inpaint, INPAINT_TELEA, radius 3) against areafill's
membrane fill on the same images and holes as bench/membrane_bench.cpp: a disc of radius 100
in 1024x768 and a 300x300 square in 4000x3000, at 8 and 16 bits.

For areafill two figures are taken:
  - the whole fill step of the engine (edge search, fill pass, eight smoothing passes), as the
    benchmark program times it (BenchFastEngine, fast engine, 1 and N threads);
  - the whole call of the Python module, areafill.fill(image, hole), which adds the host's
    row exchange and the array conversions on top, with AREAFILL_THREADS=1 and unset.
cv2.inpaint takes 8-bit images of 1 or 3 channels but 16-bit images of 1 channel only, so the
16-bit comparison is on grey images (the engine figure for 16 bits is RGB, more work).

    scripts/install-deps.sh bench          # python3-opencv
    /usr/bin/python3 bench/opencv_compare.py --build build/release
Prints a Markdown table; times are medians of --repeats calls.
"""

import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import cv2
import numpy as np

ROOT = Path(__file__).resolve().parents[1]

# (name, width, height, hole(y, x) -> bool array, the benchmark program's case number)
CASES = [
    ("disc r=100 in 1024x768", 1024, 768,
     lambda y, x: (x - 512) ** 2 + (y - 384) ** 2 <= 100 * 100, 1),
    ("square 300x300 in 4000x3000", 4000, 3000,
     lambda y, x: (x >= 1850) & (x < 2150) & (y >= 1350) & (y < 1650), 2),
]


def make_image(width, height, bits):
    """The benchmark program's picture: red across, green down, blue x XOR y."""
    y, x = np.mgrid[0:height, 0:width].astype(np.int64)
    rgb = np.stack([x * 255 // width, y * 255 // height, (x ^ y) & 255], axis=-1)
    return rgb.astype(np.uint8) if bits == 8 else (rgb * 128).astype(np.uint16)


def median_seconds(function, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def engine_times(build, repeats):
    """Median fill-step times (ms) of the fast engine, keyed by (case, bits, threads)."""
    program = build / "bench" / "areafill_bench"
    if not program.exists():
        print(f"note: {program} not found; engine figures left out", file=sys.stderr)
        return {}
    result = subprocess.run(
        [str(program), "--benchmark_filter=BenchFastEngine/case:[12]/",
         f"--benchmark_repetitions={repeats}", "--benchmark_report_aggregates_only=true",
         "--benchmark_format=json"],
        check=True, capture_output=True, text=True)
    times = {}
    for run in json.loads(result.stdout)["benchmarks"]:
        if run.get("aggregate_name") != "median":
            continue
        fields = dict(part.split(":") for part in run["run_name"].split("/")[1:] if ":" in part)
        key = (int(fields["case"]), int(fields["bits"]), int(fields["threads"]))
        times[key] = run["real_time"]  # milliseconds: the benchmark's unit
    return times


def module_ms(areafill, image, hole, prefs, threads, repeats):
    if threads is None:
        os.environ.pop("AREAFILL_THREADS", None)
    else:
        os.environ["AREAFILL_THREADS"] = str(threads)
    try:
        return 1e3 * median_seconds(
            lambda: areafill.fill(image, hole, method="membrane", prefs=prefs), repeats)
    finally:
        os.environ.pop("AREAFILL_THREADS", None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "release",
                        help="build folder with python/ and bench/ (default: build/release)")
    parser.add_argument("--repeats", type=int, default=5, help="calls per figure (default: 5)")
    args = parser.parse_args()
    sys.path.insert(0, str(args.build / "python"))
    import areafill  # noqa: E402  (found in the build folder named on the command line)

    cv2.setNumThreads(1)  # Telea's inpainting is one loop anyway; keep OpenCV's pool out of it
    # The threads a fill takes by default: one per processor, as the benchmark program counts.
    threads = min(os.cpu_count() or 1, 64)
    engine = engine_times(args.build, args.repeats)
    prefs = tempfile.mkdtemp(prefix="areafill-bench-prefs-")
    print(f"{platform.node()}, {os.cpu_count()} CPUs, load {os.getloadavg()[0]:.2f}, "
          f"OpenCV {cv2.__version__}, {time.strftime('%Y-%m-%d %H:%M %Z')}\n")
    print("| case | bits | image | Telea ms | engine ms, 1 thread | engine ms, "
          f"{threads} threads | areafill.fill ms, 1 thread | areafill.fill ms, {threads} threads "
          "| Telea / engine, 1 thread | Telea / areafill.fill, 1 thread |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for name, width, height, hole_of, case in CASES:
        y, x = np.mgrid[0:height, 0:width]
        hole = hole_of(y, x)
        hole8 = hole.astype(np.uint8) * 255
        for bits in (8, 16):
            rgb = make_image(width, height, bits)
            # cv2.inpaint: 3 channels at 8 bits, 1 channel at 16 bits.
            image = rgb if bits == 8 else np.ascontiguousarray(rgb[..., 0])
            kind = "RGB" if image.ndim == 3 else "grey"
            telea = 1e3 * median_seconds(
                lambda: cv2.inpaint(image, hole8, 3, cv2.INPAINT_TELEA), args.repeats)
            one = module_ms(areafill, image, hole, prefs, 1, args.repeats)
            many = module_ms(areafill, image, hole, prefs, None, args.repeats)
            e1 = engine.get((case, bits, 1))
            en = engine.get((case, bits, threads))

            def cell(v):
                return f"{v:.1f}" if v is not None else "n/a"

            ratio = f"{telea / e1:.2f}" if e1 else "n/a"
            ratio_call = f"{telea / one:.2f}"
            engine_note = "" if bits == 8 else " (RGB)"
            print(f"| {name} | {bits} | {kind} | {telea:.1f} | {cell(e1)}{engine_note} | "
                  f"{cell(en)}{engine_note} | {one:.1f} | {many:.1f} | {ratio} | {ratio_call} |")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
