"""A person at the program: the choice dialog on a terminal, answered with digits, arrows and
Enter or cancelled with Escape or Ctrl-C, and Ctrl-C during the fill or before it starts."""
import os
import signal

import numpy as np
import pytest

from conftest import block
from samples import pattern


@pytest.mark.parametrize("keys, code, said", [  # each key once the screen shows its cue
    ([("Enter:", "5"), ("5 (*)", "\r")], 0, "filled with white"),  # the fifth choice, marked
    ([("Enter:", "5"), ("5 (*)", "\x1b[A"), ("4 (*)", "\r")], 0, "filled with black"),
    ([("Enter:", "\x1b")], 130, "areafill: cancelled"),
    ([("Enter:", "\x03")], 130, "areafill: cancelled")])
def test_the_dialog_takes_digits_arrows_and_enter_and_escape_or_ctrl_c_cancels(program, keys, code,
                                                                                said):
    program.write("in.tif", pattern(9, 12, 3, np.uint8), "rgb")
    program.write("mask.tif", block())
    status, screen = program.on_terminal(["in.tif", "-o", "out.tif", "--mask", "mask.tif"], keys)
    assert status == code and said in screen, screen
    assert (program.folder / "out.tif").exists() == (code == 0)
    if code == 0:  # the progress bar ends at 100%, and the dialog begins on a line of its own
        assert "] 100%" in screen and screen[screen.index("== ") - 2:].startswith("\r\n== ")


def test_ctrl_c_during_the_fill_cancels_and_writes_nothing(program):
    # The membrane fill of a whole 600x600 image is long enough to be stopped at 10%.
    program.write("in.tif", (np.add.outer(np.arange(600), np.arange(600)) // 5).astype(np.uint8))
    child = program.start("in.tif", "-o", "out.tif", "--method", "membrane")
    said = ""
    while "areafill: 10%" not in said and child.poll() is None:
        said += child.stderr.readline()
    child.send_signal(signal.SIGINT)
    said += child.communicate(timeout=120)[1]
    assert child.returncode == 130 and "areafill: cancelled\n" in said, said
    assert sorted(os.listdir(program.folder)) == ["home", "in.tif", "prefs"]
