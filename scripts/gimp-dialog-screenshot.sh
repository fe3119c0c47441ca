#!/usr/bin/env bash
# Makes docs/gimp-dialog.png, the README's picture of the plug-in's dialog: GIMP 2.10 in a
# throw-away profile (the plug-in installed by the install script, its own home and Preferences
# folder) runs the plug-in interactively under Xvfb on the bundled example with the ladybird
# selected; the dialog, opened on "mean colour", is photographed with bin/grab_window and
# cancelled.
#   scripts/gimp-dialog-screenshot.sh [BUILD]   BUILD defaults to build/release
# Needs gimp, xvfb and xdotool (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
root="$(mktemp -d "${TMPDIR:-/tmp}/areafill-gimp-dialog-XXXXXX")"
trap 'rm -rf "$root"' EXIT

# GIMP limited to the plug-ins the picture needs, which keeps a fresh profile's start short.
plugins="$(pkg-config --variable=gimplibdir gimp-2.0)/plug-ins"
mkdir -p "$root/home" "$root/profile/system-plug-ins" "$root/prefs"
ln -s "$plugins/script-fu" "$plugins/file-png" "$root/profile/system-plug-ins/"
echo "(plug-in-path \"$root/profile/plug-ins:$root/profile/system-plug-ins\")" >"$root/profile/gimprc"
unset AREAFILL_DIALOG GIMP2_SYSCONFDIR DISPLAY WAYLAND_DISPLAY
export HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" XDG_CACHE_HOME="$root/home/.cache"
export GIMP2_DIRECTORY="$root/profile" AREAFILL_PREFS_DIR="$root/prefs"
scripts/install-gimp-plugin.sh "$build" >/dev/null

image="$PWD/examples/ladybird.png"
cat >"$root/dialog.scm" <<SCHEME
(let* ((image (car (file-png-load RUN-NONINTERACTIVE "$image" "$image"))))
  (gimp-image-select-ellipse image CHANNEL-OP-REPLACE 411 169 77 81)
  (plug-in-areafill RUN-INTERACTIVE image (car (gimp-image-get-active-drawable image)) 4))
SCHEME

# Inside xvfb-run: GIMP's batch in the background, then the dialog found, photographed once it
# is drawn, and cancelled.
xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
  gimp-console-2.10 -i -d -f -b "(load \"$1/dialog.scm\")" -b "(gimp-quit 0)" >"$1/gimp.log" 2>&1 &
  id=$(timeout 60 xdotool search --sync --onlyvisible --name "^Area Fill\$" | head -n 1)
  [ -n "$id" ] || { cat "$1/gimp.log"; exit 1; }
  sleep 1
  "$2" "$id" "$3"
  xdotool windowfocus --sync "$id" key Escape
  wait' grab "$root" "$build/bin/grab_window" docs/gimp-dialog.png
echo "gimp-dialog-screenshot: $(realpath docs/gimp-dialog.png)"
