#!/usr/bin/env bash
# The status poll's costs against palvo2-sim on a private bus, on a virtual display.
#   bench/poll.sh             60 s of real polling (BENCH_SECONDS to change it)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${BENCH_SECONDS:-60}
runs=${BENCH_STARTS:-10}

source bench/env.sh

echo "== ticks back to back (tick handler called directly)"
build/pollbench ticks 10000

echo "== real polling: the panel at 500 ms for ${seconds} s"
build/palvo-panel &
panel=$!
pids+=("$panel")
sleep 3
cpu() { awk '{print $14 + $15}' "/proc/$panel/stat"; }
hz=$(getconf CLK_TCK)
c0=$(cpu); r0=$(rss "$panel")
sleep "$seconds"
c1=$(cpu); r1=$(rss "$panel")
kill "$panel"
awk -v c="$((c1 - c0))" -v hz="$hz" -v s="$seconds" -v r0="$r0" -v r1="$r1" 'BEGIN {
  ticks = s * 2
  printf "cpu_ms_total %.0f over %d ticks\n", c * 1000 / hz, ticks
  printf "cpu_us_per_tick %.0f\n", c * 1e6 / hz / ticks
  printf "cpu_share %.3f%%\n", c * 100 / hz / s
  printf "rss_kib %d -> %d\n", r0, r1
}'

echo "== start-up, launch to window shown (median of ${runs})"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
for kind in bare panel; do
  for _ in $(seq "$runs"); do timeout 20 build/pollbench startup "$kind" "$(date +%s%N)"; done | median |
    sed "s/^/startup_ms_${kind} /"
done
