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

source bench/fldigi.sh
bus bus
DBUS_SESSION_BUS_ADDRESS=$bus_address QT_QPA_PLATFORM=offscreen \
  build/pollbench remote build/palvo2-fldigi 7362 "${BENCH_SECONDS:-10}" "${BENCH_ROUNDS:-3}" ${BENCH_TRIPS:-0 50 100 200 300}
