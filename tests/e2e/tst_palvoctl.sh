#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# palvoctl against palvo2-sim on a private bus: each command's output and exit status, what the
# check stops (the sim prints every macro it receives: nothing reaches it), send, --follow
# through the sim's going and coming back, --host and --list.
#   dbus-run-session -- tst_palvoctl.sh DIR_OF_PALVOCTL:DIR_OF_PALVO2_SIM
set -uo pipefail
export PATH=$1:$PATH LC_ALL=de_DE.UTF-8 # a decimal comma, which no output may show
work=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

sim() {
  palvo2-sim >"$work/macros" 2>"$work/sim.err" &
  simpid=$!
  for _ in $(seq 200); do grep -q serving "$work/sim.err" 2>/dev/null && return; sleep 0.05; done
  fail "palvo2-sim did not start: $(cat "$work/sim.err")"
}
# expect STATUS OUTPUT -- COMMAND...: what it prints on stdout (stderr for a failure), and its status
expect() {
  local status=$1 want=$2; shift 3
  local got code
  got=$("$@" 2>"$work/err"); code=$?
  [ "$code" -ne 0 ] && got=$(cat "$work/err")
  [ "$code" = "$status" ] || { fail "$* ended with $code, not $status: $got"; return; }
  [[ "$got" == $want ]] || fail "$* printed '$got', not '$want'"
}

expect 3 "palvoctl: Palvo2 is not loaded: no program owns Palvo2.Application" -- palvoctl
expect 3 "palvoctl: no D-Bus session bus*" -- env DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent palvoctl mode
expect 2 "palvoctl: Unknown option 'bogus'*" -- palvoctl --bogus
sim
expect 0 "BPSK31 1000 Hz 14100 kHz RX" -- palvoctl
expect 0 "14100" -- palvoctl rig
expect 0 "no" -- palvoctl transmitting
expect 0 "" -- palvoctl rig 7074.5
expect 0 "" -- palvoctl rig 14.0745MHz
expect 0 "14074.5" -- palvoctl rig
expect 0 "14074500 sim" -- palvoctl --format '{rig_hz} {host}'
expect 2 "palvoctl: '14074000' is ambiguous*give a unit*" -- palvoctl rig 14074000
expect 0 "" -- palvoctl mode RTTY
expect 0 "" -- palvoctl audio 1500
expect 0 "RTTY 1500 Hz 14074.5 kHz RX" -- palvoctl -p sim
expect 1 "palvoctl: <MODE:FT8>: palvo2-sim has no mode FT8; it has SSB*" -- palvoctl mode FT8
# Stopped before sending: a typo, and text that looks like a tag.
for macro in '<AUDIOFQ:15OO>' '<zfq:7074>' '<ZFQ 7074>' 'CQ <ZFQ:14074'; do
  expect 2 "palvoctl: *nothing was sent" -- palvoctl macro "$macro"
done
expect 2 "palvoctl: send takes text only*" -- palvoctl send 'CQ <TX>'
expect 0 "" -- palvoctl --no-check macro '<zfq:7074>'
expect 2 "palvoctl: unknown command 'trans'*" -- palvoctl trans
# The sim heard only what was sent: the no-check macro, never the stopped ones.
grep -q '15OO\|<ZFQ 7074>' "$work/macros" && fail "a stopped macro reached the sim"
grep -qx '<zfq:7074>' "$work/macros" || fail "--no-check did not send its macro"
# Transmitting, and send waiting for receive.
expect 0 "" -- palvoctl tx
expect 0 "yes" -- palvoctl transmitting
expect 0 "" -- palvoctl send 'CQ de N0CALL'
expect 0 "no" -- palvoctl transmitting
expect 0 "Palvo2.Application owned by sim (:1.*)*Palvo2.Application.sim owned by sim (:1.*)" -- palvoctl --list

# --follow: a line at start, one on a change, an empty one while the sim is gone, one when back.
palvoctl --follow --format '{mode} {audio}' >"$work/follow" 2>&1 &
follower=$!
sleep 0.5
palvoctl audio 900
kill "$simpid"; wait "$simpid" 2>/dev/null
sleep 0.5
sim
sleep 0.5
kill -TERM "$follower"; wait "$follower"; code=$?
[ "$code" = 0 ] || fail "--follow ended with $code on SIGTERM"
printf 'RTTY 1500\nRTTY 900\n\nBPSK31 1000\n' | cmp -s - "$work/follow" || fail "--follow printed: $(cat -A "$work/follow")"
kill "$simpid"
exit $((failures > 0))
