"""pip installs the package into a fresh virtual environment (packing the package this build
made, as pip does after building it through CMake), and a clean interpreter there, with no
PYTHONPATH, imports it and runs the filter module installed inside it."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import areafill

ROOT = Path(__file__).resolve().parents[2]


def test_pip_installs_a_package_that_runs_on_its_own(tmp_path):
    source = tmp_path / "source"
    for name in ("pyproject.toml", "setup.py", "CMakeLists.txt", "README.md"):
        (source / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(ROOT / name, source / name)
    shutil.copytree(ROOT / "src/python/areafill", source / "src/python/areafill")
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["AREAFILL_PIP_PACKAGE_DIR"] = str(Path(areafill.__file__).parent)
    subprocess.run([venv / "bin/pip", "install", "-q", "--no-build-isolation", "--no-deps",
                    "--no-index", source], check=True, env=env, cwd=tmp_path)
    code = ("import areafill, numpy as np; print(areafill.filter_module_path()); "
            "print(areafill.fill(np.arange(25, dtype=np.uint8).reshape(5, 5), method='white')[2, 2])")
    done = subprocess.run([venv / "bin/python", "-c", code], env=env, cwd=tmp_path,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    module, pixel = done.stdout.split()
    assert Path(module).is_relative_to(venv) and pixel == "255"
