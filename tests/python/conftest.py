"""Shared set-up of the Python module's tests: the areafill program (AREAFILL_CLI) to compare
with, run with a private Preferences folder, and the shared sample images."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE_DIR = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE_DIR / "tests" / "support"))


@pytest.fixture
def cli(tmp_path):
    """Runs the program with arguments, which must succeed."""
    if not os.environ.get("AREAFILL_CLI"):
        pytest.skip("AREAFILL_CLI is not set (ctest sets it to the areafill program)")
    # A sanitised build preloads the sanitiser's runtime into Python; the program carries its own.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}

    def run(*args):
        done = subprocess.run([os.environ["AREAFILL_CLI"], "-q", "--prefs", tmp_path / "cli-prefs",
                               *args], capture_output=True, text=True, env=env)
        assert done.returncode == 0, done.stderr

    return run
