#!/usr/bin/env bash
# The Windows program's checks, run by the CI after the Linux ones: builds the
# mingw preset, runs its unit tests under Wine in a fresh prefix, compares the
# setup-string parser with the platform's BuildCommDCBA, flashes the simulator
# with Download.exe (scripts/wine-e2e.sh) and grabs its windows under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/wine-prefix.sh

cmake --preset mingw >/dev/null
cmake --build --preset mingw
cmake --preset default >/dev/null
cmake --build --preset default --target test_wine

work=$(mktemp -d)
cleanup() {
  wine_prefix_stop
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

echo "== unit tests under Wine"
wine_prefix_start "$work/prefix"
ctest --preset mingw

echo "== setup strings: our parser against BuildCommDCBA"
MARLET_REQUIRE_WINE=1 MARLET_DCB_PROBE="$root/build/mingw/bin/dcb-probe.exe" "$root/build/default/bin/test_wine"
wine_prefix_stop

echo "== Download.exe end to end"
./scripts/wine-e2e.sh

echo "== Download.exe on screen"
./scripts/wine-screenshots.sh "$work/shots"
