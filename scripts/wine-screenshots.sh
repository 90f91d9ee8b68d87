#!/usr/bin/env bash
# Screenshots of Download.exe's main window and About box, drawn by the
# Win32 dialog manager under Wine on a virtual X display (Xvfb):
#   scripts/wine-screenshots.sh [FOLDER]   (default docs/)
# writes FOLDER/win-main-window.png and FOLDER/win-about-box.png. The program
# grabs its own windows (MARLET_SCREENSHOT) and closes them again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-docs}")
. scripts/wine-prefix.sh

cmake --preset mingw >/dev/null
cmake --build --preset mingw --target marlet-download >/dev/null

work=$(mktemp -d)
cleanup() {
  wine_prefix_stop
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$out" "$work/shots"

# Runs inside the virtual display: Wine's own desktop window, so that the
# dialogs get their caption and frame without a window manager.
cat >"$work/grab.sh" <<GRAB
set -e
. "$root/scripts/wine-prefix.sh"
wine_prefix_start "$work/prefix" gui
MARLET_SCREENSHOT='$(wine_path "$work/shots")' timeout 120 wine explorer /desktop=marlet,800x600 \
  "$root/build/mingw/bin/Download.exe" -port:COM1 '-readfile:C:\\firmware\\FW2207_218.bot'
wine_prefix_stop
GRAB
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash "$work/grab.sh"

for name in main-window about-box; do
  if [ ! -s "$work/shots/$name.bmp" ]; then
    echo "wine-screenshots: $name was not grabbed" >&2
    exit 1
  fi
  python3 scripts/bmp-to-png.py "$work/shots/$name.bmp" "$out/win-$name.png"
  echo "$out/win-$name.png"
done
