#!/usr/bin/env bash
# Fills the ladybird in the bundled example photograph with the membrane fill.
# Argument: the build folder (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
out="$build/demo"
mkdir -p "$out"
"$build/bin/areafill" examples/ladybird.png --mask examples/ladybird-mask.png \
  --method membrane --prefs "$out/prefs" -o "$out/ladybird-filled.png"
echo
echo "demo: the selection of examples/ladybird.png (examples/ladybird-mask.png) was filled."
echo "demo: result: $(realpath "$out/ladybird-filled.png")"
