# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced first by the benchmarks that drive a real fldigi. Outside, it builds and runs the
# script again in a private network namespace (fldigi's port keys the transmitter). Inside, it
# gives a scratch folder, a virtual display and fldigi with a fresh configuration, answering on
# 127.0.0.1:7362; "bus NAME" starts a private session bus and puts its address in $bus_address.
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
for _ in $(seq 600); do (exec 3<>/dev/tcp/127.0.0.1/7362) 2>/dev/null && break; sleep 0.1; done

bus() {
  mkdir -p "$scratch/$1"
  dbus-daemon --session --nofork --print-address=1 --address="unix:dir=$scratch/$1" >"$scratch/$1/address" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$scratch/$1/address" ] && break; sleep 0.1; done
  bus_address=$(head -1 "$scratch/$1/address")
}
