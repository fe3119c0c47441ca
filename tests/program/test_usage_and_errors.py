"""The program's informational options, and every way a run is refused or fails: exit 1 for bad
usage and input, 3 for a filter that cannot be loaded or fails. Each says why in one line and
leaves the folder as it was: no OUTPUT, no temporary file, INPUT and an existing OUTPUT kept."""
import os
import shutil
import subprocess

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
    (["notes.tif", "-o", "out.tif"], None, 1, "not a PNG, TIFF or JPEG image"),
    (RUN + ["--mask", "small.tif"], None, 1, "mask is 5x4 but the image is 6x4"),
    (RUN + ["--mask", "clear.tif"], None, 1, "selection is empty"),
    (RUN + ["--mask", "cmyk.tif"], None, 1, "a mask must be grey, but this image is CMYK"),
    (RUN + ["--mask", "colour.tif"], None, 1, "an RGB mask must be grey (R = G = B) or show"),
    (["cmyk.tif", "-o", "out.png"], None, 1, "PNG cannot hold CMYK images"),
    (["in.tif", "-o", "nowhere/out.tif"], None, 1, "does not exist"),
    (RUN + ["--replay", "absent.json"], None, 1, "absent.json: cannot read the recorded action"),
    (RUN + ["--replay", "folder"], None, 1, "folder: a recorded action is a file; this is not"),
    (RUN + ["--replay", "broken.json"], None, 1, "broken.json: "),
    (RUN + ["--method", "white", "--record", "nowhere/a.json"], None, 1, "nowhere/a.json"),
    (RUN + ["--method", "white", "--plugin", "absent.so"], None, 3, "cannot load the filter"),
    (RUN + ["--method", "white", "--plugin", "notes.tif"], None, 3, "cannot load the filter"),
    (RUN + ["--plugin", "probe.so"], -108, 3, "filter failed while running: out of memory (-108)"),
    (RUN + ["--plugin", "probe.so"], -30101, 3, "cannot handle this image mode (-30101)"),
    (RUN + ["--plugin", "probe.so"], -5000, 3, "(-5000)"),
    (["in.tif", "-o", "old.tif", "--plugin", "probe.so"], -108, 3, "out of memory"),
    (["in.tif", "-o", "in.tif", "--plugin", "probe.so"], -108, 3, "out of memory"),
    # Outputs that would replace something else, and recorded actions that cannot be ours.
    (RUN + ["--method", "white", "--record", "in.tif"], None, 1, "is INPUT too"),
    (RUN + ["--method", "white", "--record", "./out.tif"], None, 1, "is OUTPUT too"),
    (RUN + ["--mask", "small.tif", "--record", "small.tif"], None, 1, "is --mask too"),
    (RUN + ["--method", "white", "--record", "/dev/stdout"], None, 1, "not a regular file"),
    (["in.tif", "-o", "fifo", "--method", "white"], None, 1, "not a regular file"),
    (RUN + ["--replay", "fifo"], None, 1, "not a regular file"),
    (RUN + ["--replay", "/dev/zero"], None, 1, "not a regular file"),
    (RUN + ["--replay", "big.json"], None, 1, "too large for a recorded action"),
    (RUN + ["--replay", "deep.json"], None, 1, "nested more than 64 levels"),
    (RUN + ["--replay", "wrongtype.json"], None, 1, "fill choice must be an enumeration"),
    *[(RUN + ["--replay", f"choice{v}.json"], None, 1, f"fill choice {v} is not one of 3 (membrane)")
      for v in (0, 2, 10, 4294967295)],
    (["new\nline\x1b[31m.tif", "-o", "out.tif"], None, 1, "new\\x0aline\\x1b[31m.tif: cannot open"),
]


def test_an_output_that_is_the_programs_own_standard_output_is_refused(program):
    # With the stream sent to a file, /dev/stdout leads to that file: replacing it would replace
    # the link in /dev (as root) or the log.
    program.write("in.tif", np.full((4, 6), 77, np.uint8))
    for args in (["-o", "out.tif", "--record", "/dev/stdout"],
                 ["-o", "out.tif", "--record", "/proc/self/fd/1"], ["-o", "/dev/stdout"]):
        with open(program.folder / "log", "w") as log:
            done = subprocess.run(program.command(["in.tif", "--method", "white", *args]),
                                  cwd=program.folder, env=program.env, stdout=log,
                                  stderr=subprocess.PIPE, text=True, timeout=60)
        assert done.returncode == 1 and "is this program's standard output" in done.stderr
    assert os.path.islink("/dev/stdout") and not (program.folder / "out.tif").exists()


def snapshot(folder):
    return {p.relative_to(folder): p.is_file() and p.read_bytes() for p in folder.rglob("*")
            if p.relative_to(folder).parts[0] not in ("home", "prefs")}


@pytest.mark.parametrize("args, status, code, message", FAILURES)
def test_failure_says_why_and_leaves_the_files_as_they_were(program, args, status, code, message):
    program.write("in.tif", np.full((4, 6), 77, np.uint8))
    program.write("small.tif", np.full((4, 5), 255, np.uint8))
    program.write("clear.tif", np.zeros((4, 6), np.uint8))
    program.write("colour.tif", np.full((4, 6, 3), [255, 0, 0], np.uint8), "rgb")
    program.write("cmyk.tif", block()[:4, :6, None].repeat(4, 2), "cmyk")
    for name, text in [("notes.tif", "hello\n"), ("broken.json", '{"v'), ("old.tif", "old")]:
        (program.folder / name).write_text(text)
    (program.folder / "folder").mkdir()
    os.mkfifo(program.folder / "fifo")
    (program.folder / "big.json").write_text(" " * (1 << 20) + "{}")
    (program.folder / "deep.json").write_text("[" * 200000 + "]" * 200000)
    enum = '{"version": 1, "items": [{"key": "FilM", "type": "enum", "enumType": "rB22", "value": %d}]}'
    for value in (0, 2, 10, 4294967295):
        (program.folder / f"choice{value}.json").write_text(enum % value)
    (program.folder / "wrongtype.json").write_text(
        '{"version": 1, "items": [{"key": "FilM", "type": "integer", "value": 5}]}')
    shutil.copy(os.environ["AREAFILL_PROBE_MODULE"], program.folder / "probe.so")
    before = snapshot(program.folder)
    done = program(*args, env={"AREAFILL_PROBE_STATUS": str(status)} if status else None)
    assert done.returncode == code, done.stderr
    assert done.stderr.startswith("areafill: ") and done.stderr.count("\n") == 1, done.stderr
    assert message in done.stderr
    assert snapshot(program.folder) == before
    assert not (program.folder / "prefs" / "ZELKpref").exists()
