#!/usr/bin/env bash
# Plays the user for the dialog test, inside xvfb-run: starts GIMP's batch (which runs the
# plug-in interactively twice), waits for each "Area Fill" dialog, and answers with synthetic
# key presses: the first dialog is measured and photographed, then Return; the second gets
# Escape.
#   dialog_driver.sh BATCH-COMMAND GRAB-TOOL OUT-FOLDER
# Writes OUT/geometry.txt (xdotool's X, Y, WIDTH, HEIGHT of the first dialog), OUT/dialog.png
# and OUT/gimp.log; exits with GIMP's status, or 90 when a dialog did not appear.
set -u
batch=$1
grab=$2
out=$3

# GIMP in a process group of its own, so that giving up ends GIMP and its plug-ins too. The
# log is appended to, so that the driver's own lines are not overwritten.
: >"$out/gimp.log"
set -m
sh -c "$batch" >>"$out/gimp.log" 2>&1 &
gimp=$!
set +m

# Prints the id of the shown "Area Fill" window; fails after 60 s or when GIMP ends.
next_dialog() {
  local id
  for _ in $(seq 600); do
    id=$(xdotool search --onlyvisible --name '^Area Fill$' 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    kill -0 "$gimp" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Waits until window $1 is no longer shown. The next plug-in process may well get the same X
# window id (a client's id range is reused once the previous client has gone), so the next
# dialog is told apart by the first one having gone, not by its id.
dialog_gone() {
  for _ in $(seq 600); do
    xdotool search --onlyvisible --name '^Area Fill$' 2>/dev/null | grep -qx "$1" || return 0
    kill -0 "$gimp" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

give_up() {
  echo "dialog_driver: $1" >>"$out/gimp.log"
  kill -- -"$gimp" 2>/dev/null
  wait "$gimp"
  exit 90
}

first=$(next_dialog) || give_up "the first dialog did not appear"
sleep 1  # drawn before it is photographed
xdotool getwindowgeometry --shell "$first" >"$out/geometry.txt"
"$grab" "$first" "$out/dialog.png" >>"$out/gimp.log" 2>&1
xdotool windowfocus --sync "$first" key Return

dialog_gone "$first" || give_up "the first dialog did not close on Return"
second=$(next_dialog) || give_up "the second dialog did not appear"
sleep 0.5
xdotool windowfocus --sync "$second" key Escape

wait "$gimp"
