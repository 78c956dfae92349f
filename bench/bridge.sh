#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A tick through palvo2-fldigi against its floor: a tick against palvo2-sim (the same three D-Bus
# hops) plus three direct XML-RPC reads on one kept connection to the same fldigi, timed in
# alternating blocks in one run. fldigi runs in a private network namespace, as in the tests.
#   bench/bridge.sh           BENCH_TICKS ticks a block (2000), BENCH_ROUNDS blocks of each (10)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != inside ]; then
  scripts/deps
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
  cmake --build build -j"$(nproc)" >/dev/null
  exec scripts/private-net bash "$0" inside
fi

source bench/display.sh
mkdir -p "$scratch/cfg" "$scratch/home"
echo '<FLDIGI_DEFS></FLDIGI_DEFS>' >"$scratch/cfg/fldigi_def.xml"
sleep 0.5
DISPLAY=$display HOME=$scratch/home fldigi --config-dir "$scratch/cfg/" --home-dir "$scratch/home/" >/dev/null 2>&1 &
pids+=($!)

bus() { # a private session bus; prints its address
  mkdir -p "$scratch/$1"
  dbus-daemon --session --nofork --print-address=1 --address="unix:dir=$scratch/$1" >"$scratch/$1/address" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$scratch/$1/address" ] && break; sleep 0.1; done
}
bus simbus
bus bridgebus
simbus=$(head -1 "$scratch/simbus/address")
bridgebus=$(head -1 "$scratch/bridgebus/address")

for _ in $(seq 150); do (exec 3<>/dev/tcp/127.0.0.1/7362) 2>/dev/null && break; sleep 0.1; done
DBUS_SESSION_BUS_ADDRESS=$simbus build/palvo2-sim >/dev/null 2>&1 &
pids+=($!)
DBUS_SESSION_BUS_ADDRESS=$bridgebus build/palvo2-fldigi 2>"$scratch/bridge.err" &
bridge=$!
pids+=("$bridge")
sleep 1.5

QT_QPA_PLATFORM=offscreen build/pollbench bridge "$simbus" "$bridgebus" http://127.0.0.1:7362/RPC2 "$bridge" \
  "${BENCH_TICKS:-2000}" "${BENCH_ROUNDS:-10}"
