"""The program's tests: each gets the program (tests/support/program_runner.py) in a temporary
folder of its own."""
import os
import sys
from pathlib import Path

import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from program_runner import Program  # noqa: E402


@pytest.fixture
def program(tmp_path):
    if not os.environ.get("AREAFILL_CLI"):
        pytest.skip("AREAFILL_CLI is not set (ctest sets it to the areafill program)")
    return Program(tmp_path)


def block():
    """A 9x12 mask selecting rows 2..6 and columns 3..9."""
    mask = np.zeros((9, 12), np.uint8)
    mask[2:7, 3:10] = 255
    return mask
