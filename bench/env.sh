# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the benchmarks: a Release-ish build, a virtual display, a private session bus and
# palvo2-sim on it (its stdout in $sim_out, its pid in $sim_pid). Everything stops on exit.
scripts/deps
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

source bench/display.sh
export DISPLAY=$display QT_QPA_PLATFORM=xcb
exec {busfd}< <(dbus-daemon --session --nofork --print-address=1 --print-pid=1 2>/dev/null)
read -r DBUS_SESSION_BUS_ADDRESS <&"$busfd"
read -r buspid <&"$busfd"
pids+=("$buspid")
export DBUS_SESSION_BUS_ADDRESS
sim_out=$scratch/sim.out
build/palvo2-sim >"$sim_out" 2>/dev/null &
sim_pid=$!
pids+=("$sim_pid")
sleep 1

rss() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
fds() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l; }
