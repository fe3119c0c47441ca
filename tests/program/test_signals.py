"""Signals: Ctrl-C, SIGTERM and SIGHUP at any moment end a run with exit 130, no output and no
temporary output, a second signal included (which ends it at once, leaving its scratch files);
what a killed run left (temporary outputs, scratch files) is removed by the next run."""
import os
import signal
import time

import numpy as np
import pytest

from samples import pattern

ARGS = ["in.tif", "-o", "out.tif", "--mask", "mask.tif", "--method", "membrane", "--record",
        "action.json"]


def slow_run(program):
    """Files for a run of about a second: a large 16-bit image with a large hole, scratch images
    on disk."""
    program.write("in.tif", pattern(1500, 1500, 3, np.uint16), "rgb")
    mask = np.zeros((1500, 1500), np.uint8)
    mask[200:1300, 200:1300] = 255
    program.write("mask.tif", mask)
    return {**program.env, "AREAFILL_TEMP_MEMORY": "0"}


def leftovers(program, scratch=True):
    prefs = program.folder / "prefs"
    names = os.listdir(program.folder) + [f"prefs/{n}" for n in
                                          (os.listdir(prefs) if prefs.exists() else [])]
    return sorted(n for n in names if ".areafill-" in n or scratch and n.startswith("prefs/")
                  and n != "prefs/ZELKpref")


@pytest.mark.parametrize("signals", [[signal.SIGINT], [signal.SIGTERM], [signal.SIGHUP],
                                     [signal.SIGINT, signal.SIGINT]])
def test_a_signal_at_any_moment_ends_the_run_with_nothing_left(program, signals):
    env = slow_run(program)
    for delay in (0.05, 0.1, 0.4, 0.8, 1.2):
        program.env = env
        child = program.start(*ARGS)
        time.sleep(delay)
        for sig in signals:
            child.send_signal(sig)
            time.sleep(0.01)
        status = child.wait(120)
        said = child.stderr.read()
        # A run that had ended before the signal stands; any other says it was cancelled.
        assert status in (0, 130), said
        outputs = {(program.folder / n).exists() for n in ("out.tif", "action.json")}
        assert outputs == {status == 0}, (delay, said)
        assert leftovers(program, scratch=len(signals) == 1) == [], delay
        for name in ("out.tif", "action.json"):
            if status == 0:
                os.remove(program.folder / name)


def test_what_a_killed_run_left_is_removed_by_the_next(program):
    env = slow_run(program)
    program.env = env
    for delay in (0.2, 0.6, 1.0):
        child = program.start(*ARGS)
        time.sleep(delay)
        child.kill()
        child.wait(60)
    done = program(*ARGS, env=env)
    assert done.returncode == 0, done.stderr
    assert leftovers(program) == []
