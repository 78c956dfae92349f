#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# scripts/run, scripts/run fldigi and scripts/run wsjtx, with no display and PANEL_SECONDS=1, end within a time limit
# and leave nothing running: each runs in a session of its own, which is empty afterwards. With no
# session bus, each prints the address of its own.
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
for what in sim fldigi wsjtx; do
  arg=(); [ "$what" = sim ] || arg=("$what")
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR PANEL_SECONDS=1 \
    timeout 90 setsid bash -c 'echo $$ >"$1"; shift; exec scripts/run "$@"' bash "$work/$what.sid" "${arg[@]}" \
    >"$work/$what.out" 2>&1
  status=$?
  sid=$(cat "$work/$what.sid")
  [ "$status" -eq 124 ] && fail "scripts/run ${arg[*]} did not end within 90 s"
  grep -q "screenshot saved" "$work/$what.out" || fail "scripts/run ${arg[*]} showed no panel: $(cat "$work/$what.out")"
  grep -q "^  export DBUS_SESSION_BUS_ADDRESS='unix:" "$work/$what.out" ||
    fail "scripts/run ${arg[*]} did not print the address of its session bus"
  sleep 1
  left=$(pgrep -a -s "$sid")
  [ -z "$left" ] || fail "scripts/run ${arg[*]} left running: $left"
  pkill -KILL -s "$sid" 2>/dev/null
done

[ "$failures" -eq 0 ] && echo "PASS: scripts/run ends"
exit "$failures"
