#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# scripts/run, scripts/run fldigi and scripts/run wsjtx, with no display and PANEL_SECONDS=1, end within a time limit
# and leave nothing running: each runs in a session of its own, which is empty afterwards. With no
# session bus, each prints the address of its own, and nothing that reads as a failure. SIGINT or
# SIGTERM to scripts/run ends it at once; a panel that ends early is said, with its status.
#   tst_run.sh SOURCE_DIR
set -uo pipefail
cd "$1"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The build is not what is timed: scripts/run then finds it done.
scripts/deps
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null || { echo "FAIL: the build"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# run NAME [VAR=VALUE...] [-- ARG...]: scripts/run in a session of its own, in the background;
# its process id (the session's) in $work/NAME.sid.
run() {
  local name=$1; shift
  local vars=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do vars+=("$1"); shift; done
  [ $# -eq 0 ] || shift
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR PANEL_SECONDS=1 "${vars[@]}" \
    timeout 90 setsid bash -c 'echo $$ >"$1"; shift; exec scripts/run "$@"' bash "$work/$name.sid" "$@" \
    >"$work/$name.out" 2>&1 &
}
# ended NAME STATUS: checks that its session is empty, and kills what is left.
ended() {
  local sid; sid=$(cat "$work/$1.sid")
  [ "$2" -eq 124 ] && fail "$1: scripts/run did not end within 90 s"
  sleep 1
  left=$(pgrep -a -s "$sid")
  [ -z "$left" ] || fail "$1: scripts/run left running: $left"
  pkill -KILL -s "$sid" 2>/dev/null
}

for what in sim fldigi wsjtx; do
  arg=(); [ "$what" = sim ] || arg=("$what")
  run "$what" -- "${arg[@]}"
  wait $! && status=0 || status=$?
  ended "$what" "$status"
  [ "$status" -eq 0 ] || fail "$what: scripts/run ended with status $status"
  grep -q "screenshot saved" "$work/$what.out" || fail "$what: scripts/run showed no panel: $(cat "$work/$what.out")"
  grep -q "^  export DBUS_SESSION_BUS_ADDRESS='unix:" "$work/$what.out" ||
    fail "$what: scripts/run did not print the address of its session bus"
  # What it prints is its own: no X11 connection broken, no unshare complaining.
  grep -E "X11|unshare|Terminated" "$work/$what.out" && fail "$what: scripts/run printed the lines above"
done

# A signal to scripts/run's own process, the panel up for a minute: it ends at once, and all of it.
for signal in INT TERM; do
  run "$signal" PANEL_SECONDS=60
  job=$!
  for _ in $(seq 600); do pgrep -x palvo-panel -s "$(cat "$work/$signal.sid" 2>/dev/null || echo 0)" >/dev/null && break; sleep 0.1; done
  sleep 0.5
  started=$(date +%s%N)
  kill -"$signal" "$(cat "$work/$signal.sid")"
  wait "$job" && status=0 || status=$?
  ms=$((($(date +%s%N) - started) / 1000000))
  ended "$signal" "$status"
  [ "$ms" -lt 5000 ] || fail "SIG$signal: scripts/run took $ms ms to end"
  case "$signal:$status" in INT:130 | TERM:143) ;; *) fail "SIG$signal: scripts/run ended with status $status" ;; esac
done

# A panel that ends early: said, with its status, and no screenshot.
rm -f build/panel.png
run early QT_QPA_PLATFORM=no-such-platform
wait $! && status=0 || status=$?
ended early "$status"
[ "$status" -ne 0 ] || fail "early: scripts/run ended with status 0"
grep -q "The panel ended before its screenshot was taken, with exit status $status" "$work/early.out" ||
  fail "early: scripts/run did not say the panel ended: $(cat "$work/early.out")"
[ ! -e build/panel.png ] || fail "early: a screenshot was saved"

[ "$failures" -eq 0 ] && echo "PASS: scripts/run ends"
exit "$failures"
