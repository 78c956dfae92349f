#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A tick through palvo2-fldigi against its floor: a tick against palvo2-sim (the same three D-Bus
# hops) plus three direct XML-RPC reads on one kept connection to the same fldigi, timed in
# alternating blocks in one run. fldigi runs in a private network namespace, as in the tests.
#   bench/bridge.sh           BENCH_TICKS ticks a block (2000), BENCH_ROUNDS blocks of each (10)
set -euo pipefail
cd "$(dirname "$0")/.."

source bench/fldigi.sh
beside_sim palvo2-fldigi
sleep 1.5

QT_QPA_PLATFORM=offscreen build/pollbench bridge "$simbus" "$bridgebus" http://127.0.0.1:7362/RPC2 "$bridge" \
  "${BENCH_TICKS:-2000}" "${BENCH_ROUNDS:-10}"
