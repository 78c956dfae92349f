#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Soak and burst: does the panel, or the host it polls, grow over time; do clicks get lost?
#   bench/soak.sh                 10,000 ticks at 5 ms, then 1,000 clicks on "Run" in a burst
#   SOAK_MINUTES=30 bench/soak.sh  also the real palvo-panel at 500 ms for 30 minutes
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${SOAK_MINUTES:-0}
ticks=${SOAK_TICKS:-10000}
burst=${SOAK_CLICKS:-1000}

source bench/env.sh

echo "== ${ticks} ticks at 5 ms through the event loop"
build/pollbench soak "$ticks" 5 "$sim_pid"

echo "== ${burst} clicks on Run, queued at once"
: >"$sim_out"
build/pollbench clicks "$burst"
sleep 0.5
received=$(grep -c '^burst ' "$sim_out" || true)
expected=$(seq 1 "$burst" | sed 's/^/burst /')
if [ "$(grep '^burst ' "$sim_out")" = "$expected" ]; then order=yes; else order=no; fi
echo "macros_received ${received} of ${burst}, in order: ${order}"

if [ "$minutes" -gt 0 ]; then
  echo "== the real panel at 500 ms for ${minutes} min, sampled each minute"
  build/palvo-panel 2>"$scratch/panel.err" &
  panel=$!
  pids+=("$panel")
  sleep 5
  for m in $(seq 0 "$minutes"); do
    [ "$m" -gt 0 ] && sleep 60
    kill -0 "$panel" || { echo "the panel ended: $(cat "$scratch/panel.err")"; exit 1; }
    echo "minute $m panel_rss_kib $(rss "$panel") panel_fds $(fds "$panel") host_rss_kib $(rss "$sim_pid") host_fds $(fds "$sim_pid")"
  done
  [ -s "$scratch/panel.err" ] && echo "panel stderr: $(cat "$scratch/panel.err")"
fi
[ "$received" -eq "$burst" ] && [ "$order" = yes ]
