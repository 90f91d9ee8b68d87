#!/usr/bin/env bash
# Saves pictures of the main window and the About box, taken from the real
# program, as docs/main-window.png and docs/about-box.png. Runs the program
# under Xvfb (or on Qt's offscreen platform where Xvfb is missing) with a
# store of its own, so a user's settings are neither read nor changed.
#   scripts/screenshots.sh [path/to/marlet-download]
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build/default/bin/marlet-download}
if [ ! -x "$program" ]; then
  echo "screenshots: $program not found; build it first (cmake --preset default && cmake --build --preset default)" >&2
  exit 1
fi

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# A port and a firmware file, as the window shows them in use. COM3 is mapped
# to /dev/null: the program lists it but never opens it here.
mkdir -p "$home/.config/marlet-downloader"
cat > "$home/.config/marlet-downloader/registry.reg" <<'STORE'
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Varden\IOCommDL]
"PortName"="COM3:"
"DLFileName"="/home/user/firmware/FW2207_218.bot"
"DLSpeed"=dword:00000002

[HKEY_LOCAL_MACHINE\SOFTWARE\Varden\IOCommDL\Ports]
"COM3"="/dev/null"
STORE

mkdir -p docs
rm -f docs/main-window.png docs/about-box.png
# The program grabs both windows itself once each is on screen, then closes them.
export HOME="$home" XDG_CONFIG_HOME="$home/.config" MARLET_SCREENSHOT="$PWD/docs"
if command -v xvfb-run >/dev/null 2>&1; then
  env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$program"
else
  QT_QPA_PLATFORM=offscreen "$program"
fi
for picture in docs/main-window.png docs/about-box.png; do
  if [ ! -s "$picture" ]; then
    echo "screenshots: $picture was not written" >&2
    exit 1
  fi
done
echo "screenshots: docs/main-window.png and docs/about-box.png written"
