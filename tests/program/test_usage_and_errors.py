"""The program's informational options, and every way a run is refused or fails: exit 1 for bad
usage and input, 3 for a filter that cannot be loaded or fails. Each says why in one line and
leaves the folder as it was: no OUTPUT, no temporary file, INPUT and an existing OUTPUT kept."""
import os
import shutil

import numpy as np
import pytest

from conftest import block


def test_version_and_the_methods_in_choice_order(program):
    assert program("--version").stdout == f"areafill {os.environ['AREAFILL_VERSION']}\n"
    listed = [line.split()[:2] for line in program("--list-methods").stdout.splitlines()]
    assert listed == [[name, str(3 + i)] for i, name in enumerate(
        ["membrane", "mean", "foreground", "black", "white", "hblend", "vblend"])]


RUN = ["in.tif", "-o", "out.tif"]
FAILURES = [  # arguments, status the probe module fails with, exit code, words of the message
    (["-o", "out.tif"], None, 1, "missing INPUT"),
    (["in.tif"], None, 1, "missing -o OUTPUT"),
    (RUN + ["--colour", "red"], None, 1, "--colour"),
    (RUN + ["in.tif"], None, 1, "not expected"),
    (RUN + ["--method", "blur"], None, 1, "unknown method 'blur'"),
    (RUN + ["--method", "mean", "--replay", "x.json"], None, 1, "cannot be used together"),
    (RUN + ["--fg", "#fff"], None, 1, "--fg"),
    (RUN + ["--bg", "ffffff"], None, 1, "--bg"),
    (RUN + ["--fg", "#12345g"], None, 1, "--fg"),
    (["absent.tif", "-o", "out.tif"], None, 1, "absent.tif: cannot open"),
    (["notes.tif", "-o", "out.tif"], None, 1, "not a PNG or TIFF image"),
    (RUN + ["--mask", "small.tif"], None, 1, "mask is 5x4 but the image is 6x4"),
    (RUN + ["--mask", "clear.tif"], None, 1, "selection is empty"),
    (RUN + ["--mask", "cmyk.tif"], None, 1, "a mask must be grey, but this image is CMYK"),
    (RUN + ["--mask", "alpha.tif"], None, 1, "a mask must be grey without alpha or other extra"),
    (["cmyk.tif", "-o", "out.png"], None, 1, "PNG cannot hold CMYK images"),
    (["in.tif", "-o", "nowhere/out.tif"], None, 1, "does not exist"),
    (RUN + ["--replay", "absent.json"], None, 1, "absent.json: cannot read the recorded action"),
    (RUN + ["--replay", "folder"], None, 1, "folder: cannot read the recorded action"),
    (RUN + ["--replay", "broken.json"], None, 1, "broken.json: "),
    (RUN + ["--method", "white", "--record", "nowhere/a.json"], None, 1, "nowhere/a.json"),
    (RUN + ["--method", "white", "--plugin", "absent.so"], None, 3, "cannot load the filter"),
    (RUN + ["--method", "white", "--plugin", "notes.tif"], None, 3, "cannot load the filter"),
    (RUN + ["--plugin", "probe.so"], -108, 3, "filter failed while running: out of memory (-108)"),
    (RUN + ["--plugin", "probe.so"], -30101, 3, "cannot handle this image mode (-30101)"),
    (RUN + ["--plugin", "probe.so"], -5000, 3, "(-5000)"),
    (["in.tif", "-o", "old.tif", "--plugin", "probe.so"], -108, 3, "out of memory"),
    (["in.tif", "-o", "in.tif", "--plugin", "probe.so"], -108, 3, "out of memory"),
]


def snapshot(folder):
    return {p.relative_to(folder): p.is_file() and p.read_bytes() for p in folder.rglob("*")
            if p.relative_to(folder).parts[0] not in ("home", "prefs")}


@pytest.mark.parametrize("args, status, code, message", FAILURES)
def test_failure_says_why_and_leaves_the_files_as_they_were(program, args, status, code, message):
    program.write("in.tif", np.full((4, 6), 77, np.uint8))
    program.write("small.tif", np.full((4, 5), 255, np.uint8))
    program.write("clear.tif", np.zeros((4, 6), np.uint8))
    program.write("alpha.tif", np.full((4, 6, 2), 255, np.uint8), "greya")
    program.write("cmyk.tif", block()[:4, :6, None].repeat(4, 2), "cmyk")
    for name, text in [("notes.tif", "hello\n"), ("broken.json", '{"v'), ("old.tif", "old")]:
        (program.folder / name).write_text(text)
    (program.folder / "folder").mkdir()
    shutil.copy(os.environ["AREAFILL_PROBE_MODULE"], program.folder / "probe.so")
    before = snapshot(program.folder)
    done = program(*args, env={"AREAFILL_PROBE_STATUS": str(status)} if status else None)
    assert done.returncode == code, done.stderr
    assert done.stderr.startswith("areafill: ") and done.stderr.count("\n") == 1, done.stderr
    assert message in done.stderr
    assert snapshot(program.folder) == before
    assert not (program.folder / "prefs" / "ZELKpref").exists()
