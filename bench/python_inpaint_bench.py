#!/usr/bin/python3
"""Compares areafill.fill(..., method="membrane") with OpenCV's inpainting (Telea and
Navier-Stokes) and scikit-image's biharmonic inpainting, in one process and one run, on the
same images and holes. Writes a Markdown table (docs/python-bench.md) and a figure
(docs/python-bench.png).

Scenes with known pixels under the holes (dust, one hole, stars on a 16-bit sky) are scored
by the root-mean-square error inside the holes, on a 0..1 scale; the ladybird photograph's
own selection has no ground truth and is shown as pictures.

    PYTHONPATH=build/release/python python3 bench/python_inpaint_bench.py
(needs python3-opencv, python3-skimage and python3-matplotlib: scripts/install-deps.sh bench)
"""

import argparse
import os
import platform
import sys
import tempfile
import time
from pathlib import Path

import cv2
import matplotlib
import numpy as np
import skimage
from scipy.ndimage import binary_dilation
from skimage.restoration import inpaint_biharmonic

import areafill

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (after choosing the backend)

ROOT = Path(__file__).resolve().parents[1]
REPEATS = 5
PREFS = tempfile.mkdtemp(prefix="areafill-bench-prefs-")


def _areafill(image, hole):
    return areafill.fill(image, hole, method="membrane", prefs=PREFS)


def _areafill_grown(image, hole):
    # The membrane's frame is the selection's own outermost ring, each point taking the samples
    # of its right-hand neighbour; a selection drawn two pixels beyond the defect keeps the
    # defect out of the frame. The growing is part of the timed call.
    grown = binary_dilation(hole, structure=np.ones((3, 3), bool), iterations=2)
    return areafill.fill(image, grown, method="membrane", prefs=PREFS)


def _cv2(flag):
    def run(image, hole):
        return cv2.inpaint(image, hole.astype(np.uint8) * 255, 3, flag)
    return run


def _biharmonic(image, hole):
    top = np.iinfo(image.dtype).max
    out = inpaint_biharmonic(image / top, hole, channel_axis=-1 if image.ndim == 3 else None)
    return np.clip(np.rint(out * top), 0, top).astype(image.dtype)


# (name in the table, short name in the figure, function of (image, hole) -> result)
METHODS = [
    ("areafill membrane", "areafill", _areafill),
    ("areafill membrane, selection grown 2 px", "areafill, +2 px", _areafill_grown),
    ("OpenCV Telea", "OpenCV Telea", _cv2(cv2.INPAINT_TELEA)),
    ("OpenCV NS", "OpenCV NS", _cv2(cv2.INPAINT_NS)),
    ("skimage biharmonic", "skimage biharmonic", _biharmonic),
]


def _discs(shape, centres, radii):
    y, x = np.mgrid[0:shape[0], 0:shape[1]]
    hole = np.zeros(shape, bool)
    for (cy, cx), r in zip(centres, radii):
        hole |= (y - cy) ** 2 + (x - cx) ** 2 <= r * r
    return hole


def make_scenes():
    """(name, image, hole, ground truth or None); every choice is seeded."""
    rng = np.random.default_rng(2024)
    photo = areafill.read_image(ROOT / "examples" / "ladybird.png")
    selection = areafill.read_image(ROOT / "examples" / "ladybird-mask.png") >= 128
    h, w = selection.shape

    dust = _discs((h, w), rng.integers([4, 4], [h - 4, w - 4], size=(80, 2)),
                  rng.uniform(1, 4, 80))
    one_hole = _discs((h, w), [(220, 110)], [24])

    # A 16-bit sky: a smooth glow with faint banding, and Gaussian stars to be removed.
    y, x = np.mgrid[0:256, 0:256] / 255.0
    sky = 0.18 + 0.25 * x * y + 0.05 * np.sin(6 * x + 2 * y)
    stars = np.zeros_like(sky)
    centres = rng.uniform(8, 248, size=(40, 2))
    for cy, cx in centres:
        stars += 0.6 * np.exp(-((y * 255 - cy) ** 2 + (x * 255 - cx) ** 2) / 4.0)
    star_holes = _discs(sky.shape, centres, np.full(40, 4.5))
    to16 = lambda v: np.rint(np.clip(v, 0, 1) * 65535).astype(np.uint16)  # noqa: E731

    return [
        ("ladybird (its selection, 640x400 RGB)", photo, selection, None),
        ("dust (80 specks, 640x400 RGB)", photo, dust, photo),
        ("one hole (48 px disc, 640x400 RGB)", photo, one_hole, photo),
        ("stars (40, 256x256 16-bit grey)", to16(sky + stars), star_holes, to16(sky)),
    ]


def rmse(result, truth, hole):
    top = float(np.iinfo(truth.dtype).max)
    diff = (result.astype(np.float64) - truth.astype(np.float64))[hole] / top
    return float(np.sqrt(np.mean(diff ** 2)))


def run(scenes):
    """{(scene, method): (seconds, rmse or None, result)}: the best of REPEATS runs."""
    results = {}
    for scene, image, hole, truth in scenes:
        for method, _, fill in METHODS:
            best, out = float("inf"), None
            for _ in range(REPEATS):
                start = time.perf_counter()
                out = fill(image, hole)
                best = min(best, time.perf_counter() - start)
            score = rmse(out, truth, hole) if truth is not None else None
            results[scene, method] = (best, score, out)
            print(f"{scene:40} {method:40} {best * 1000:9.1f} ms"
                  + (f"  rmse {score:.4f}" if score is not None else ""), file=sys.stderr)
    return results


def _cpu():
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def write_table(path, scenes, results, figure, load):
    lines = [
        "# areafill from Python beside OpenCV and scikit-image",
        "",
        "Made by `bench/python_inpaint_bench.py` in one Python process and one run: time is the",
        f"best of {REPEATS} calls of each method on the same image and holes; error is the",
        "root-mean-square difference from the true pixels inside the holes, on a 0..1 scale",
        "(lower is better; the ladybird's own selection has no true pixels).",
        "",
        f"Machine: {_cpu()}, {os.cpu_count()} CPUs visible (load average {load:.1f} at the start).",
        f"Python {platform.python_version()}, areafill {areafill.__version__}, OpenCV "
        f"{cv2.__version__}, scikit-image {skimage.__version__}, NumPy {np.__version__}.",
        "",
        "| scene | holes (px) | " + " | ".join(m for m, _, _ in METHODS) + " |",
        "|---|---:|" + "---:|" * len(METHODS),
    ]
    for scene, _, hole, truth in scenes:
        cells = []
        for method, _, _ in METHODS:
            seconds, score, _ = results[scene, method]
            cell = f"{seconds * 1000:.0f} ms" if seconds >= 0.01 else f"{seconds * 1000:.1f} ms"
            cells.append(cell + (f" / {score:.4f}" if score is not None else ""))
        lines.append(f"| {scene} | {int(hole.sum())} | " + " | ".join(cells) + " |")
    lines += [
        "",
        "Cells: time / error. Notes:",
        "",
        "- The membrane fill takes its frame from the selection's own outermost ring of pixels",
        "  (each ring point with the samples of its right-hand neighbour), where the other",
        "  methods take the pixels just outside the hole. Where a defect reaches the edge of",
        "  its hole (the stars' halos), a selection drawn two pixels beyond it keeps the defect",
        "  out of the frame: the \"selection grown 2 px\" column, scored on the same holes.",
        "- One call fills every hole of a mask; with many small holes (dust) a pixel's 32",
        "  directions also reach the edges of neighbouring holes, and its time grows with the",
        "  edge points of all of them.",
        "- areafill and OpenCV fill 8- and 16-bit samples directly; scikit-image works in",
        "  floating point (the conversion is part of its time).",
        "",
        f"![The comparison]({figure.name})",
        "",
    ]
    path.write_text("\n".join(lines))


def _crop_box(hole, margin=24):
    ys, xs = np.nonzero(hole)
    return (slice(max(ys.min() - margin, 0), ys.max() + margin),
            slice(max(xs.min() - margin, 0), xs.max() + margin))


def write_figure(path, scenes, results):
    fig = plt.figure(figsize=(12, 6.4), dpi=100)
    grid = fig.add_gridspec(2, len(METHODS) + 1, height_ratios=[0.85, 1])
    scene, image, hole, _ = scenes[0]
    box = _crop_box(hole)
    panels = [("original", image)] + [(short, results[scene, m][2]) for m, short, _ in METHODS]
    for i, (title, picture) in enumerate(panels):
        ax = fig.add_subplot(grid[0, i])
        ax.imshow(picture[box])
        ax.set_title(title, fontsize=9)
        ax.axis("off")

    scored = [s for s in scenes if s[3] is not None]
    width = 0.8 / len(METHODS)
    time_ax = fig.add_subplot(grid[1, :3])
    error_ax = fig.add_subplot(grid[1, 3:])
    for k, (method, short, _) in enumerate(METHODS):
        times = [results[s[0], method][0] * 1000 for s in scenes]
        errors = [results[s[0], method][1] for s in scored]
        time_ax.bar(np.arange(len(scenes)) + k * width, times, width, label=short)
        error_ax.bar(np.arange(len(scored)) + k * width, errors, width)
    for ax, shown in ((time_ax, scenes), (error_ax, scored)):
        ax.set_xticks(np.arange(len(shown)) + 0.4 - width / 2,
                      [s[0].split(" (")[0] for s in shown], fontsize=9)
    time_ax.set_yscale("log")
    time_ax.set_ylabel("time (ms, log scale)")
    error_ax.set_ylabel("RMS error in the holes (0..1)")
    fig.suptitle("Removing the ladybird (its selection), and time and error on every scene",
                 fontsize=11)
    fig.legend(loc="lower center", ncol=len(METHODS), fontsize=9, frameon=False)
    fig.tight_layout(rect=(0, 0.05, 1, 1), h_pad=0.5, w_pad=0.5)
    fig.savefig(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", type=Path, default=ROOT / "docs",
                        help="folder for python-bench.md and python-bench.png (default: docs)")
    args = parser.parse_args()
    load = os.getloadavg()[0]  # the machine is shared: say how busy it was
    scenes = make_scenes()
    results = run(scenes)
    args.out.mkdir(parents=True, exist_ok=True)
    figure = args.out / "python-bench.png"
    write_figure(figure, scenes, results)
    write_table(args.out / "python-bench.md", scenes, results, figure, load)
    print(f"wrote {args.out / 'python-bench.md'} and {figure}", file=sys.stderr)


if __name__ == "__main__":
    main()
