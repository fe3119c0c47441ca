"""Shared set-up of the Python module's tests: the areafill program (AREAFILL_CLI) to compare
with, run as the program's tests run it, and the shared sample images."""
import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from program_runner import Program  # noqa: E402


@pytest.fixture
def cli(tmp_path):
    """Runs the program with arguments, which must succeed."""
    if not os.environ.get("AREAFILL_CLI"):
        pytest.skip("AREAFILL_CLI is not set (ctest sets it to the areafill program)")
    program = Program(tmp_path / "cli")

    def run(*args):
        done = program("-q", *args)
        assert done.returncode == 0, done.stderr

    return run
