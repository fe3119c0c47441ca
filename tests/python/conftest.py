"""Shared set-up of the Python module's tests: where the areafill program is, with a private
Preferences folder so that no test touches the user's own (fills without prefs= use a private
folder of their process by themselves)."""

import os
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))

SOURCE_DIR = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def cli():
    """Runs the areafill program (AREAFILL_CLI, set by ctest) with a private Preferences
    folder; returns a function of the program's arguments."""
    program = os.environ.get("AREAFILL_CLI")
    if not program:
        pytest.skip("AREAFILL_CLI is not set (ctest sets it to the areafill program)")
    assert os.access(program, os.X_OK), f"AREAFILL_CLI={program} is not a program"
    prefs = tempfile.mkdtemp(prefix="areafill-pytest-cli-prefs-")
    # A sanitised build preloads the sanitiser's runtime into Python; the program carries its own.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}

    def run(*args):
        done = subprocess.run([program, "-q", "--prefs", prefs, *map(str, args)],
                              capture_output=True, text=True, env=env)
        assert done.returncode == 0, done.stderr
        return done

    run.program = program
    return run
