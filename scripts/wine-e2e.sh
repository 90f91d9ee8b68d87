#!/usr/bin/env bash
# The Windows program end to end under Wine: Download.exe flashes the printer
# simulator unattended, with the help text's example, first through COM5
# (a pseudo-terminal that the Wine prefix maps as COM5), then over loopback
# TCP (Winsock). Each run must end with exit status 1 (revision verified),
# the simulator must have received the image byte for byte, and the settings
# must be in the prefix's registry, in the view a 32-bit program sees.
#
# Wine reports no modem lines on a pseudo-terminal (GetCommModemStatus fails
# with error 50), so the hardware-handshake readiness test cannot pass there:
# the serial run uses XON/XOFF, set as "XonXoff"=1 in the program's key.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/wine-prefix.sh

cmake --preset default >/dev/null
cmake --build --preset default --target marlet-printer-sim >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target marlet-download >/dev/null

sim="$root/build/default/bin/marlet-printer-sim"
exe="$root/build/mingw/bin/Download.exe"
sample="$root/samples/FW2207_218.bot"
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  wine_prefix_stop
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

start_sim() {
  rm -f "$work/sim.out" "$work/image.bin"
  "$sim" "$@" --exit-after-flash --image-out "$work/image.bin" >"$work/sim.out" 2>"$work/sim.log" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && break
    sleep 0.05
  done
}

stop_sim() {
  for _ in $(seq 100); do
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}

# Runs the help text's example against a port; checks the status and the image.
flash() {
  local port=$1
  echo "\$ wine Download.exe -port:$port -readfile:$(wine_path "$sample") -s -flash -delay:1500 -verify:2.18 -exit"
  set +e
  timeout 300 wine "$exe" "-port:$port" "-readfile:$(wine_path "$sample")" -s -flash -delay:1500 -verify:2.18 -exit
  local status=$?
  set -e
  stop_sim
  sed 's/^/  simulator: /' "$work/sim.out"
  [ "$status" -eq 1 ] || fail "exit status $status over $port, expected 1 (verified)"
  local expected received
  expected=$(python3 -c 'import sys, zlib; print("%08x" % zlib.crc32(open(sys.argv[1], "rb").read()))' "$sample")
  received=$(sed -n 's/^image crc32: //p' "$work/sim.out")
  [ "$received" = "$expected" ] || fail "image CRC over $port: received '$received', file $expected"
  cmp -s "$work/image.bin" "$sample" || fail "the image received over $port differs from the file"
}

# The program's key as a 32-bit program sees it (Wow6432Node in a 64-bit prefix).
settings() { wine reg query 'HKLM\SOFTWARE\Varden\IOCommDL' /reg:32 2>/dev/null | tr -d '\r'; }

expect_setting() {
  local name=$1 pattern=$2
  settings | grep -Eq "^ +$name +REG_[A-Z_]+ +$pattern\$" || fail "setting $name does not match '$pattern'"
}

echo "== a fresh Wine prefix"
wine_prefix_start "$work/prefix"

echo
echo "== through COM5, a pseudo-terminal mapped by the Wine prefix"
start_sim --pty "$work/ttySIM"
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$work/ttySIM" /f >/dev/null
wine reg add 'HKLM\SOFTWARE\Varden\IOCommDL' /v XonXoff /t REG_DWORD /d 1 /f /reg:32 >/dev/null
wine_prefix_restart
flash COM5
expect_setting PortName 'COM5:?'
expect_setting DLFileName "$(wine_path "$sample" | sed 's/\\/\\\\/g')"
expect_setting XonXoff 0x1
echo "  registry (32-bit view):"
settings | grep -E 'REG_' | grep -v ' TCP ' | sed 's/^ */    /'

echo
echo "== over loopback TCP (Winsock)"
start_sim --tcp 127.0.0.1:0
port=$(sed -n 's/^listening //p' "$work/sim.out" | head -n1)
flash "$port"
expect_setting PortName "$port"
history=$(printf ' %s' "$port" | od -An -tx1 | tr -d ' \n' | tr a-f A-F)
settings | grep -E '^ +TCP +REG_BINARY' | grep -q "^ *TCP *REG_BINARY *$history" ||
  fail "the network port history does not begin with ' $port'"

# The 64-bit view must not hold the settings.
if wine reg query 'HKLM\SOFTWARE\Varden\IOCommDL' /reg:64 >/dev/null 2>&1; then
  fail "the settings are in the 64-bit view"
fi

echo
if [ "$failures" -ne 0 ]; then
  echo "wine-e2e: $failures failure(s)" >&2
  exit 1
fi
echo "wine-e2e: both runs verified, images received whole, settings in the 32-bit view"
