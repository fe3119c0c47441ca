#!/usr/bin/python3
"""Times the membrane fill on the holes users select (dust, scratches, caption strokes, discs,
a large blob) against OpenCV's Telea inpainting (cv2.inpaint, INPAINT_TELEA, radius 3), on a
photograph-like picture with grain, one thread.

Each case gives medians of --repeats calls, taken in turn (so that the machine's load moves all
figures alike), on the same arrays:
  - Telea: cv2.inpaint in this process (16 bits: three grey planes one after the other, as it
    takes 16-bit images of one channel only);
  - fast: the whole areafill.fill call, fast engine, AREAFILL_THREADS=1;
  - reference: the same with AREAFILL_MEMBRANE=reference (left out where it takes seconds);
  - with --threads N: the fast engine's wall time on N threads, and its CPU time over the CPU
    time of one thread (1.00: the threads share the work without repeating any of it);
  - with --baseline BUILD: the fast engine of another build, for a before-and-after table;
  - with --bits 16: every shape at 16 bits (Telea on three grey planes), not only the dust.
The module reads its engine and threads once, so each kind of call is served by a process of
its own. The stages inside the engine: bench/membrane_bench.cpp (BenchEngines/Dust*,
Scratches*, Blob*).

    scripts/install-deps.sh bench          # python3-opencv
    /usr/bin/python3 bench/hole_shapes.py --build build/release
Prints a Markdown table, with the machine and the date.
"""

import argparse
import os
import platform
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import cv2
import numpy as np

ROOT = Path(__file__).resolve().parents[1]


def picture(width, height, bits, seed=1):
    """Soft shapes and gradients, like a photograph, with fine grain on top."""
    rng = np.random.default_rng(seed)
    coarse = rng.uniform(30, 225, size=(max(height // 64, 2), max(width // 64, 2), 3))
    base = cv2.resize(coarse, (width, height), interpolation=cv2.INTER_CUBIC)
    y, x = np.mgrid[0:height, 0:width]
    base += 20 * np.sin(x / 37.0)[..., None] * np.cos(y / 53.0)[..., None]
    base += rng.normal(0, 6, size=base.shape)  # grain
    if bits == 8:
        return np.clip(base, 0, 255).astype(np.uint8)
    return np.clip(base * 128, 0, 32768).astype(np.uint16)


def specks(width, height, count, radii, seed):
    rng = np.random.default_rng(seed)
    hole = np.zeros((height, width), np.uint8)
    for _ in range(count):
        cv2.circle(hole, (int(rng.integers(width)), int(rng.integers(height))),
                   int(rng.integers(radii[0], radii[1] + 1)), 255, -1)
    return hole


def scratches(width, height, count, thickness, seed):
    rng = np.random.default_rng(seed)
    hole = np.zeros((height, width), np.uint8)
    for _ in range(count):
        a = (int(rng.integers(width)), int(rng.integers(height // 4)))
        b = (int(np.clip(a[0] + rng.integers(-300, 301), 0, width - 1)),
             int(rng.integers(3 * height // 4, height)))
        cv2.line(hole, a, b, 255, thickness)
    return hole


def caption(width, height):
    hole = np.zeros((height, width), np.uint8)
    for row, text in enumerate(["Summer 1987 - the lake house, with grandma",
                                "and the dog that never came back inside"]):
        cv2.putText(hole, text, (60, height - 170 + 80 * row), cv2.FONT_HERSHEY_SIMPLEX, 2.4,
                    255, 7, cv2.LINE_8)
    return hole


def disc(width, height, cx, cy, r):
    hole = np.zeros((height, width), np.uint8)
    y, x = np.mgrid[0:height, 0:width]
    hole[(x - cx) ** 2 + (y - cy) ** 2 <= r * r] = 255
    return hole


def square(width, height, side):
    hole = np.zeros((height, width), np.uint8)
    x0, y0 = (width - side) // 2, (height - side) // 2
    hole[y0:y0 + side, x0:x0 + side] = 255
    return hole


# (name, width, height, bits, the hole, whether the reference engine is timed)
CASES = [
    ("disc r=100 in 1024×768", 1024, 768, 8, lambda: disc(1024, 768, 512, 384, 100), True),
    ("square 300² in 4000×3000", 4000, 3000, 8, lambda: square(4000, 3000, 300), True),
    ("dust: 80 specks r 2–4 in 640×400", 640, 400, 8,
     lambda: specks(640, 400, 80, (2, 4), 80), True),
    ("dust: 400 specks in 2000×1500", 2000, 1500, 8,
     lambda: specks(2000, 1500, 400, (2, 4), 400), True),
    ("12 scratches 3 px wide, 2000×1500", 2000, 1500, 8,
     lambda: scratches(2000, 1500, 12, 2, 12), True),  # OpenCV's thickness 2: 3 px across
    ("caption text strokes, 2000×1500", 2000, 1500, 8, lambda: caption(2000, 1500), False),
    ("blob r=400 in 2000×1500", 2000, 1500, 8, lambda: disc(2000, 1500, 1000, 750, 400), False),
    ("dust 80 specks, 640×400, 16-bit", 640, 400, 16,
     lambda: specks(640, 400, 80, (2, 4), 80), True),
]


def worker(build, engine, threads):
    """Serves fills from another process (the engine and the threads are read once, when the
    module loads): reads a case number a line, fills it, writes its wall and CPU seconds."""
    os.environ["AREAFILL_THREADS"] = str(threads)
    if engine == "reference":
        os.environ["AREAFILL_MEMBRANE"] = "reference"
    sys.path.insert(0, str(build / "python"))
    import areafill  # noqa: E402  (found in the build folder named on the command line)

    prefs = tempfile.mkdtemp(prefix="areafill-bench-prefs-")
    made = {}
    for line in sys.stdin:
        case, bits = (int(word) for word in line.split())
        if (case, bits) not in made:
            name, width, height, _, hole_of, _ = CASES[case]
            made[case, bits] = (picture(width, height, bits), hole_of())
        image, hole = made[case, bits]
        cpu0 = resource.getrusage(resource.RUSAGE_SELF)
        start = time.perf_counter()
        areafill.fill(image, hole, method="membrane", prefs=prefs)
        wall = time.perf_counter() - start
        cpu1 = resource.getrusage(resource.RUSAGE_SELF)
        cpu = (cpu1.ru_utime - cpu0.ru_utime) + (cpu1.ru_stime - cpu0.ru_stime)
        print(f"{wall} {cpu}", flush=True)


class Worker:
    def __init__(self, build, engine, threads):
        self.process = subprocess.Popen(
            [sys.executable, __file__, "--build", str(build), "--worker", f"{engine}:{threads}"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def fill(self, case, bits):
        self.process.stdin.write(f"{case} {bits}\n")
        self.process.stdin.flush()
        wall, cpu = self.process.stdout.readline().split()
        return float(wall), float(cpu)


def telea(image, hole):
    start = time.perf_counter()
    if image.dtype == np.uint16:
        for plane in range(3):
            cv2.inpaint(np.ascontiguousarray(image[..., plane]), hole, 3, cv2.INPAINT_TELEA)
    else:
        cv2.inpaint(image, hole, 3, cv2.INPAINT_TELEA)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "release",
                        help="build folder with python/ (default: build/release)")
    parser.add_argument("--repeats", type=int, default=5, help="calls per figure (default: 5)")
    parser.add_argument("--threads", default="",
                        help="also time the fast engine on these numbers of threads, e.g. 2 or "
                             "2,4,8 (CPU and wall); counts past the machine's cores show whether "
                             "the work is divided without being repeated")
    parser.add_argument("--only", default="", help="run the cases whose name holds this text")
    parser.add_argument("--bits", type=int, choices=[8, 16],
                        help="run every case at this depth (16: Telea on three grey planes), "
                             "rather than each at its own")
    parser.add_argument("--baseline", type=Path,
                        help="another build folder whose fast engine is timed alongside")
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        engine, threads = args.worker.split(":")
        worker(args.build, engine, int(threads))
        return

    cv2.setNumThreads(1)
    fast, reference = Worker(args.build, "fast", 1), Worker(args.build, "reference", 1)
    counts = [int(t) for t in args.threads.split(",") if t.strip() and int(t) > 1]
    many = {t: Worker(args.build, "fast", t) for t in counts}
    baseline = Worker(args.baseline, "fast", 1) if args.baseline else None
    print(f"{platform.node()}, {os.cpu_count()} CPUs, {platform.processor() or platform.machine()}"
          f", load {os.getloadavg()[0]:.2f}, OpenCV {cv2.__version__}, "
          f"{time.strftime('%Y-%m-%d %H:%M %Z')}\n")
    extra = "".join(f" {t} threads: wall ms, CPU ÷ 1 thread's |" for t in many)
    extra += " baseline fast ms |" if baseline else ""
    print("| case | selected px | Telea ms | fast ms | reference ms | Telea / fast | "
          "reference / fast |" + extra)
    print("|---" * (7 + len(many) + (1 if baseline else 0)) + "|")
    for case, (name, width, height, bits, hole_of, with_reference) in enumerate(CASES):
        if args.only not in name:
            continue
        if args.bits:
            if bits != 8:
                continue  # the 16-bit dust is the 8-bit dust's shape at another depth
            bits = args.bits
            name += ", 16-bit" if bits == 16 else ""
        image, hole = picture(width, height, bits), hole_of()
        runs = {"telea": [], "fast": [], "reference": [], "baseline": []}
        runs.update({t: [] for t in many})
        for warm in [fast, reference if with_reference else None, *many.values(), baseline]:
            if warm:  # the first call of each worker also loads the module and the picture
                warm.fill(case, bits)
        # The figures compared are taken next to each other, the slow reference last, so that a
        # burst of load on the shared machine falls on both sides of a ratio alike.
        for _ in range(args.repeats):
            runs["telea"].append(telea(image, hole))
            runs["fast"].append(fast.fill(case, bits))
            for t, worker_of_t in many.items():
                runs[t].append(worker_of_t.fill(case, bits))
            if baseline:
                runs["baseline"].append(baseline.fill(case, bits))
            if with_reference:
                runs["reference"].append(reference.fill(case, bits))

        def median(values):
            return 1e3 * statistics.median(values)

        t = median(runs["telea"])
        f = median([wall for wall, _ in runs["fast"]])
        ref = median([wall for wall, _ in runs["reference"]]) if with_reference else None
        row = (f"| {name} | {int(np.count_nonzero(hole)):,} | {t:.1f} | {f:.1f} | "
               f"{f'{ref:.1f}' if ref else '–'} | **{t / f:.2f}×** | "
               f"{f'{ref / f:.1f}×' if ref else '–'} |")
        for t in many:
            wall = median([w for w, _ in runs[t]])
            cpu = statistics.median([m[1] / o[1] for m, o in zip(runs[t], runs["fast"])])
            row += f" {wall:.1f}, {cpu:.2f} |"
        if baseline:
            row += f" {median([wall for wall, _ in runs['baseline']]):.1f} |"
        print(row)
        sys.stdout.flush()


if __name__ == "__main__":
    main()
