"""Builds the Python package `areafill` for pip through the project's CMake: configures a build
folder of its own (build/pip; AREAFILL_PIP_BUILD_DIR names another) for the interpreter that runs
pip, builds the package there and packs what it holds, the extension and the filter module
among it. AREAFILL_PIP_PACKAGE_DIR names a package folder already built (a build tree's
python/areafill), which is packed as it is."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def version():
    found = re.search(r"project\(areafill VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    return found.group(1) if found else "0.0.0"


def built_package():
    if os.environ.get("AREAFILL_PIP_PACKAGE_DIR"):
        return Path(os.environ["AREAFILL_PIP_PACKAGE_DIR"])
    build = Path(os.environ.get("AREAFILL_PIP_BUILD_DIR", ROOT / "build" / "pip"))
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", f"-DPython3_EXECUTABLE={sys.executable}",
                    "-DAREAFILL_BUILD_TESTS=OFF", "-DAREAFILL_BUILD_BENCH=OFF",
                    "-DAREAFILL_BUILD_GIMP=OFF"], check=True)
    subprocess.run(["cmake", "--build", str(build), "--target", "areafill_python"], check=True)
    return build / "python" / "areafill"


class BuildWithCMake(build_ext):
    def build_extension(self, ext):
        package = built_package()
        if not (package / "areafill-filter.so").is_file():
            sys.exit(f"areafill: no built package in {package}")
        target = Path(self.get_ext_fullpath(ext.name)).parent
        target.mkdir(parents=True, exist_ok=True)
        for item in package.iterdir():
            shutil.copy2(item, target / item.name)


setup(
    version=version(),
    packages=["areafill"],
    package_dir={"": "src/python"},
    package_data={"areafill": ["__init__.pyi"]},
    ext_modules=[Extension("areafill._areafill", sources=[])],
    cmdclass={"build_ext": BuildWithCMake},
    zip_safe=False,
)
