#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A tick through palvo2-wsjtx against a tick through palvo2-sim (the same three D-Bus hops),
# timed in alternating blocks in one run. WSJT-X runs with settings of its own in network and IPC
# namespaces of its own, as in the tests, and ends with its Close request.
#   bench/wsjtx.sh            BENCH_TICKS ticks a block (2000), BENCH_ROUNDS blocks of each (10)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/private.sh
mkdir -p "$scratch/home/.config" "$scratch/tmp"
printf '[Configuration]\nMyCall=N0CALL\nAcceptUDPRequests=true\nUDPServer=127.0.0.1\nUDPServerPort=2237\n' \
  >"$scratch/home/.config/WSJT-X.ini"
beside_sim palvo2-wsjtx
sleep 0.5
DISPLAY=$display HOME=$scratch/home TMPDIR=$scratch/tmp wsjtx >/dev/null 2>&1 &
wsjtx=$!
for _ in $(seq 300); do grep -q "WSJT-X answers" "$scratch/bridge.err" && break; sleep 0.1; done

QT_QPA_PLATFORM=offscreen build/pollbench bridge "$simbus" "$bridgebus" - "$bridge" \
  "${BENCH_TICKS:-2000}" "${BENCH_ROUNDS:-10}"

port=$(ss -Hulpn | sed -n 's/.*:\([0-9]*\) .*"wsjtx".*/\1/p' | head -n 1)
printf '\xad\xbc\xcb\xda\x00\x00\x00\x03\x00\x00\x00\x06\x00\x00\x00\x06WSJT-X' >"/dev/udp/127.0.0.1/$port"
wait "$wsjtx" || true
