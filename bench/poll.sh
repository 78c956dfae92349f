#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The status poll's and start-up's costs against their floors, with palvo2-sim on a private bus
# and a virtual display. Every comparison is made in turns within one run.
#   bench/poll.sh     BENCH_STARTS=20 starts of each kind, BENCH_TICKS=2000 a block,
#                     BENCH_ROUNDS=10 blocks of each, BENCH_SECONDS=60 of real polling
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${BENCH_SECONDS:-60}
starts=${BENCH_STARTS:-20}

source bench/env.sh

echo "== start-up to the first painted frame, and peak memory; the kinds in turn, ${starts} starts each"
for _ in $(seq "$starts"); do
  for kind in bare attach panel; do
    echo "$kind $(timeout 20 build/pollbench startup "$kind" "$(date +%s%N)")"
  done
done >"$scratch/starts"
awk '
  function median(list, form,   i, j, t, a, n) {
    n = split(list, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return sprintf(form " (" form "-" form ")", a[int((n + 1) / 2)], a[1], a[n])
  }
  { ms[$1] = ms[$1] " " $2; kib[$1] = kib[$1] " " $3
    if ($1 == "panel") { msRatio = msRatio " " $2 / lastMs["attach"]; kibRatio = kibRatio " " $3 / lastKib["attach"] }
    lastMs[$1] = $2; lastKib[$1] = $3 }
  END {
    for (k in ms) printf "startup_ms_%s %s\npeak_kib_%s %s\n", k, median(ms[k], "%.1f"), k, median(kib[k], "%d")
    printf "startup_panel_per_attach %s\npeak_panel_per_attach %s\n", median(msRatio, "%.3f"), median(kibRatio, "%.3f")
  }' "$scratch/starts" | sort

echo "== ticks against three bare reads, in alternating blocks"
build/pollbench ticks "${BENCH_TICKS:-2000}" "${BENCH_ROUNDS:-10}"

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
