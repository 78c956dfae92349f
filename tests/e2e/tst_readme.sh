#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's shell examples, each block marked <!-- example: name --> run in order against one
# palvo2-sim, as a reader pastes them: every command succeeds, and one whose line ends in
# "# prints X" prints exactly X. The blocks that run until stopped follow a fresh sim while it is
# tuned, and print what the README says.
#   dbus-run-session -- tst_readme.sh README.md DIRS_OF_PALVO2_SIM_AND_PALVOCTL
set -uo pipefail
readme=$1
export PATH=$2:$PATH
work=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

block() { # the lines of the fenced block after the marker of $1
  awk -v marker="<!-- example: $1 -->" '
    $0 == marker { armed = 1; next }
    armed && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }' "$readme"
}
sim() { # a fresh palvo2-sim owning the name; each writes a log of its own, so that no earlier
  # sim's word is taken for the new one's
  [ -n "${simpid:-}" ] && { kill "$simpid"; wait "$simpid" || true; }
  sims=$((${sims:-0} + 1))
  local err="$work/sim$sims.err"
  palvo2-sim >/dev/null 2>"$err" &
  simpid=$!
  for _ in $(seq 200); do
    grep -q serving "$err" 2>/dev/null && return
    kill -0 "$simpid" 2>/dev/null || break
    sleep 0.05
  done
  fail "palvo2-sim did not take the name: $(cat "$err")"
}
connections() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.ListNames | grep -o "':1\.[0-9]*'" | wc -l; }
macro() { gdbus call --session --dest Palvo2.Application --object-path /Palvo2/Application \
  --method Palvo2.Application.ExecuteMacros "$1" >/dev/null; }

# A block as a script: "CMD  # prints X" becomes "CMD | expect N", X being the Nth expected line.
runnable() {
  local name=$1
  block "$name" | sed -n 's/.*[[:space:]]# prints \(.*\)$/\1/p' >"$work/$name.expected"
  {
    echo 'set -euo pipefail'
    echo "expect() { local want; want=\$(sed -n \"\$1p\" '$work/$name.expected'); local got; got=\$(cat)"
    echo '  [ "$got" = "$want" ] || { echo "printed: $got"; echo "the README says: $want"; return 1; }; }'
    block "$name" | awk '/[[:space:]]# prints / { n++; sub(/[[:space:]]+# prints .*$/, " | expect " n) } { print }'
  } >"$work/$name.sh"
}

# Every marked block but the two that run until stopped, in order, on one sim.
sim
for name in $(sed -n 's/^<!-- example: \(.*\) -->$/\1/p' "$readme" | grep -vx 'monitor\|band'); do
  runnable "$name"
  out=$(timeout 30 bash "$work/$name.sh" 2>&1) || fail "example $name: $out"
done

# Follows the sim in the background while it is tuned; prints $work/$1.out when done.
follow() {
  local name=$1; shift
  [ -n "$(block "$name")" ] || { fail "no example $name in the README"; return; }
  sim
  block "$name" >"$work/$name.sh"
  local before; before=$(connections)
  setsid bash "$work/$name.sh" >"$work/$name.out" 2>&1 &
  local pid=$!
  for _ in $(seq 100); do [ "$(connections)" -gt "$before" ] && break; sleep 0.05; done
  sleep 0.3 # its monitor subscribes once connected
  for khz; do macro "<ZFQ:$khz>"; done
  sleep 1
  kill -- -"$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

follow monitor 7074
want=$(block monitor | sed -n '/^# prints/,$ { /^# prints/d; s/^# //p; }')
[ -n "$want" ] && [ "$want" = "$(cat "$work/monitor.out")" ] ||
  fail "example monitor printed: $(cat "$work/monitor.out"); the README says: $want"

follow band 7074 7080 14074 28074
# The band at start (14100 kHz), then each new one.
printf 'now on 20m\nnow on 40m\nnow on 20m\nnow on 10m\n' | cmp -s - "$work/band.out" ||
  fail "example band printed, from 14100 kHz, after 7074, 7080, 14074 and 28074 kHz: $(cat "$work/band.out")"

kill "${simpid:-}" 2>/dev/null
rm -rf "$work"
[ "$failures" -eq 0 ] && echo "PASS: the README's examples"
exit "$failures"
