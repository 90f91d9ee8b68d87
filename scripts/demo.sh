#!/usr/bin/env bash
# The main job, shown end to end: installs what is missing, builds, starts the
# printer simulator and flashes it unattended with the help text's example,
# first over loopback TCP, then over a pseudo-terminal mapped as COM5.
# Everything runs with a temporary HOME, so the user's own settings store is
# never touched, and nothing is left running.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target marlet-download marlet-printer-sim >/dev/null

bin="$root/build/default/bin"
sample="$root/samples/FW2207_218.bot"
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Starts the simulator with the given arguments and waits for its first line.
start_sim() {
  "$bin/marlet-printer-sim" "$@" --exit-after-flash >"$work/sim.out" 2>"$work/sim.log" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && break
    sleep 0.05
  done
}

stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
  sed 's/^/  simulator: /' "$work/sim.out"
}

# Runs the unattended example; prints the outcome and the exit status.
flash() {
  local port=$1
  echo "\$ marlet-download -port:$port -readfile:$(basename "$sample") -s -flash -delay:1500 -verify:2.18 -exit"
  set +e
  (cd "$(dirname "$sample")" && HOME="$work/home" "$bin/marlet-download" "-port:$port" \
    "-readfile:$(basename "$sample")" -s -flash -delay:1500 -verify:2.18 -exit)
  local status=$?
  set -e
  if [ $status -eq 1 ]; then
    echo "outcome: revision 2.18 verified (exit status $status)"
  else
    echo "outcome: revision not verified (exit status $status)"
  fi
}

mkdir -p "$work/home"
echo "== over loopback TCP"
start_sim --tcp 127.0.0.1:0
port=$(sed -n 's/^listening //p' "$work/sim.out" | head -n1)
flash "$port"
stop_sim

echo
echo "== over a pseudo-terminal mapped as COM5"
start_sim --pty "$work/ttySIM"
store="$work/home/.config/marlet-downloader/registry.reg"
# The mapping a person adds to the store to name a serial device COM5.
cat >>"$store" <<REG

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varden\\IOCommDL\\Ports]
"COM5"="$work/ttySIM"
REG
flash COM5
stop_sim
