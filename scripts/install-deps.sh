#!/usr/bin/env bash
# Installs the Debian packages that areafill needs to build, test and run its demo.
# Idempotent: only missing packages are installed. As root it runs apt-get itself;
# otherwise it prints the one command to run and fails.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libtiff-dev libcli11-dev nlohmann-json3-dev
  python3-dev pybind11-dev python3-numpy python3-pytest python3-dask python3-distributed
  python3-tifffile python3-pip python3-venv python3-setuptools python3-wheel
  # JPEG files (libjpeg-turbo); the independent writers and judges of the image-file tests,
  # and an Adobe RGB profile.
  libjpeg-dev imagemagick libtiff-tools libimage-exiftool-perl libgs-common
  # The GIMP plug-in and its tests: GIMP itself (gimp-console runs them headless), its headers,
  # GTK 2 for the screenshot tool, and a virtual X display driven by synthetic key presses.
  gimp libgimp2.0-dev libgtk2.0-dev xvfb xauth xdotool
)
# Extra sets: "sanitize" adds clang's runtime for the ASan/UBSan run; "fuzz" the same runtime,
# which carries libFuzzer; "reliability" adds valgrind for the leak check of fault injection;
# "bench" adds what bench/python_inpaint_bench.py compares the Python module with.
for extra in "$@"; do
  case "$extra" in
    sanitize|fuzz) packages+=(clang libclang-rt-14-dev) ;;
    reliability) packages+=(clang libclang-rt-14-dev valgrind) ;;
    bench) packages+=(python3-opencv python3-skimage python3-matplotlib) ;;
    *) echo "install-deps: unknown set '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages; run:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
