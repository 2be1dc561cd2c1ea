#!/usr/bin/env bash
# Takes the README pictures on the simulated ZARN device under a virtual X
# server: the window idle, the image list of the sample update file, and the
# window in the middle of an update, in English and in German. Rerunnable;
# writes docs/*.png and docs/*-de.png.
# Usage: scripts/screenshots.sh   (BUILD_DIR: build directory, build by
# default, configured if needed; OUT_DIR: where the pictures go, docs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh xvfb xdotool imagemagick locales
if ! locale -a | grep -qx de_DE.utf8; then
  if [ "$(id -u)" -eq 0 ]; then localedef -i de_DE -f UTF-8 de_DE.UTF-8; else sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8; fi
fi

build=${BUILD_DIR:-build}
out=${OUT_DIR:-docs}
# Seconds to let the update run before the last picture: the bars have moved
# well away from zero, far from the end.
update_seconds=${UPDATE_SECONDS:-10}
screen_size=1024x768x24
dialog_width=583
dialog_height=520

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --parallel "$(nproc)" --target zarn-update-utility zarnsim zarn_sample zarn_translations
program=$root/$build/app/zarn-update-utility
simulator=$root/$build/simulator/libzarnsim.so
samples=$root/$build/samples
sample=sample.zarnru
for file in "$program" "$simulator" "$samples/$sample"; do
  [ -e "$file" ] || { echo "Missing $file after the build" >&2; exit 1; }
done
mkdir -p "$out"
out=$(realpath "$out")

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display number and writes it to the descriptor.
Xvfb -displayfd 3 -screen 0 "$screen_size" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
echo "Virtual display $DISPLAY"

# Waits for a visible top-level window with exactly this title; prints its id.
wait_window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1) || true
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    kill -0 "$app_pid" 2>/dev/null || { echo "The utility ended early:" >&2; cat "$work/app.log" >&2; exit 1; }
    sleep 0.1
  done
  echo "No window \"$1\" appeared" >&2
  cat "$work/app.log" >&2
  exit 1
}

# Lets the toolkit finish painting, then grabs the window's own pixels.
capture() {
  sleep 1
  # Without the time chunks, a picture that did not change keeps its bytes.
  import -window "$1" -define png:exclude-chunks=date,time "$out/$2"
  echo "Wrote $out/$2"
}

# The pictures in one language: its locale, the suffix of its pictures'
# names, and the titles of the window and of the image list in it.
take_pictures() {
local locale=$1 suffix=$2 main_title=$3 dialog_title=$4
mkdir -p "$work/journal"
# A journal of the pictures' own: nothing of this machine's updates, or of its
# missing system journal, shows in the status bar.
# Relative to the samples folder, the file name stays short in the field.
(
  cd "$samples"
  exec env LD_PRELOAD="$simulator" ZARNSIM_TIMING=demo ZARNSIM_RECORD_FILE="$work/record.txt" \
    LC_ALL="$locale" QT_QPA_PLATFORM=xcb ZARN_JOURNAL_DIR="$work/journal" "$program" >"$work/app.log" 2>&1
) &
app_pid=$!

main=$(wait_window "$main_title")
# No window manager runs: give the window the keyboard by hand. The file name
# field is the first widget that takes focus.
xdotool windowfocus --sync "$main"
capture "$main" "window-idle$suffix.png"

xdotool type --delay 30 "$sample"
# Tab order: file name, "...", "Get Image Info", "Update".
xdotool key Tab Tab space
dialog=$(wait_window "$dialog_title")
# Tall enough for the sample's three images without scrolling.
xdotool windowsize --sync "$dialog" "$dialog_width" "$dialog_height"
capture "$dialog" "image-list$suffix.png"
xdotool windowfocus --sync "$dialog"
xdotool key Escape

xdotool windowfocus --sync "$main"
xdotool key Tab space
dialog=$(wait_window "$dialog_title")
xdotool windowfocus --sync "$dialog"
sleep 0.5
# OK is the dialog's default button.
xdotool key Return
sleep "$update_seconds"
capture "$main" "window-updating$suffix.png"

# An update refuses to be closed from the window; the pictures are taken.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=
}

take_pictures C.UTF-8 "" "ZARN Update Utility" "Image info"
take_pictures de_DE.UTF-8 -de "ZARN-Aktualisierungsprogramm" "Abbildinformationen"
