#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The panel and palvo2-fldigi with a real fldigi a round trip away, as through an SSH tunnel to a
# remote station: a proxy of our own delays each direction by half the round trip. Everything
# runs in a private network namespace (fldigi's port, and the proxy's, key the transmitter).
# For each round trip: the median and worst panel tick (three reads), each button's macro reply
# time, and fldigi's HTTP requests a second with the panel polling and with no reader.
#   bench/remote.sh      BENCH_SECONDS=10 of each, BENCH_ROUNDS=3 of the buttons,
#                        BENCH_TRIPS="0 50 100 200 300" (ms)
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
mkdir -p "$scratch/bus"
dbus-daemon --session --nofork --print-address=1 --address="unix:dir=$scratch/bus" >"$scratch/bus/address" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$scratch/bus/address" ] && break; sleep 0.1; done
for _ in $(seq 600); do (exec 3<>/dev/tcp/127.0.0.1/7362) 2>/dev/null && break; sleep 0.1; done

DBUS_SESSION_BUS_ADDRESS=$(head -1 "$scratch/bus/address") QT_QPA_PLATFORM=offscreen \
  build/pollbench remote build/palvo2-fldigi 7362 "${BENCH_SECONDS:-10}" "${BENCH_ROUNDS:-3}" ${BENCH_TRIPS:-0 50 100 200 300}
