# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced first by the benchmarks that run a radio program: outside, it builds and runs the
# script again in namespaces of its own (scripts/private-net), where the program's ports are on
# no real interface; inside, it gives a scratch folder and a virtual display (bench/display.sh),
# "bus NAME" starts a private session bus and puts its address in $bus_address, and "beside_sim
# BRIDGE" starts palvo2-sim on one ($simbus) and the bridge on another ($bridgebus, pid $bridge,
# its stderr in $scratch/bridge.err).
if [ "${1:-}" != inside ]; then
  scripts/deps
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
  cmake --build build -j"$(nproc)" >/dev/null
  exec scripts/private-net bash "$0" inside
fi

source bench/display.sh

bus() {
  mkdir -p "$scratch/$1"
  dbus-daemon --session --nofork --print-address=1 --address="unix:dir=$scratch/$1" >"$scratch/$1/address" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$scratch/$1/address" ] && break; sleep 0.1; done
  bus_address=$(head -1 "$scratch/$1/address")
}

beside_sim() {
  bus simbus
  simbus=$bus_address
  bus bridgebus
  bridgebus=$bus_address
  DBUS_SESSION_BUS_ADDRESS=$simbus build/palvo2-sim >/dev/null 2>&1 &
  pids+=($!)
  DBUS_SESSION_BUS_ADDRESS=$bridgebus "build/$1" 2>"$scratch/bridge.err" &
  bridge=$!
  pids+=("$bridge")
}
