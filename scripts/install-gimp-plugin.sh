#!/usr/bin/env bash
# Installs the GIMP 2.10 plug-in from a build folder into the user's GIMP plug-ins folder:
#   scripts/install-gimp-plugin.sh [BUILD]      (BUILD defaults to build/release)
# The plug-in is a folder of its own name holding the program, its help page and a copy of the
# filter module, which the program loads from beside itself. The GIMP profile is
# $GIMP2_DIRECTORY when set (as GIMP itself reads it), else ${XDG_CONFIG_HOME:-~/.config}/GIMP/2.10.
set -euo pipefail

build=${1:-build/release}
from="$build/gimp/areafill"
if [ ! -x "$from/areafill" ] || [ ! -f "$from/areafill-filter.so" ]; then
  echo "install-gimp-plugin: no plug-in in $from; build first (make build)" >&2
  exit 1
fi
profile=${GIMP2_DIRECTORY:-${XDG_CONFIG_HOME:-$HOME/.config}/GIMP/2.10}
to="$profile/plug-ins/areafill"
mkdir -p "$to"
# Copied beside the running files and renamed over them, so that a GIMP querying plug-ins
# meanwhile never sees half a file.
for file in areafill areafill-filter.so; do
  install -m 755 "$from/$file" "$to/.$file.new"
  mv -f "$to/.$file.new" "$to/$file"
done
install -m 644 "$from/areafill-help.html" "$to/areafill-help.html"
echo "install-gimp-plugin: installed $to; (re)start GIMP and find it under Filters > Enhance > Area Fill"
