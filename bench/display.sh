# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the benchmarks: a scratch folder and a virtual display ($display) of their own,
# and the processes in $pids, all stopped and removed on exit.
scratch=$(mktemp -d)
export XDG_RUNTIME_DIR=$scratch
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

display=:$((700 + RANDOM % 200))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
