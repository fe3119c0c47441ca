#!/usr/bin/env bash
# Makes the README's gallery from the bundled example: a 320×200 window around the selection of
# examples/ladybird.png, with the selection's edge traced in yellow, and the same window after
# each of the seven methods, as docs/gallery/<name>.png.
# Argument: the build folder (default build/release), holding bin/areafill and bin/gallery_crop.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
out=docs/gallery
window=(290 110 320 200)  # left, top, width, height: the selection is 411..487 × 169..249
# Foreground and background for the foreground colour and the two blends: a dark and a pale
# green taken from the photograph, so that the blends read as what they are.
colours=(--fg '#2f4a1c' --bg '#b9cf86')

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
"$build/bin/gallery_crop" examples/ladybird.png "$out/selection.png" "${window[@]}" \
  examples/ladybird-mask.png
for method in $("$build/bin/areafill" --list-methods | cut -d' ' -f1); do
  "$build/bin/areafill" examples/ladybird.png --mask examples/ladybird-mask.png \
    --method "$method" "${colours[@]}" --quiet --prefs "$work/prefs" -o "$work/$method.png"
  "$build/bin/gallery_crop" "$work/$method.png" "$out/$method.png" "${window[@]}"
done
echo "gallery: $(realpath "$out"): $(ls "$out" | tr '\n' ' ')"
