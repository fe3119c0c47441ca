"""Prints the folder where an install under the prefix given should put the areafill package so
that this Python finds it (used by `cmake --install`)."""
import os
import site
import sys
import sysconfig

prefix = os.path.realpath(sys.argv[1])
if prefix == os.path.realpath(site.getuserbase()):
    print(site.getusersitepackages())
    sys.exit()
for scheme in ("posix_local", "posix_prefix"):  # Debian searches .../local/... for /usr/local
    if scheme in sysconfig.get_scheme_names():
        folder = sysconfig.get_path("platlib", scheme)
        if os.path.realpath(folder).startswith(prefix + os.sep) and folder in sys.path:
            print(folder)
            sys.exit()
folder = sysconfig.get_path("platlib", "posix_prefix", vars={"base": prefix, "platbase": prefix})
print(f"areafill: {folder} is not on this Python's path: add it to PYTHONPATH", file=sys.stderr)
print(folder)
