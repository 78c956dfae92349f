#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a one-shot read costs with palvoctl against the same read with gdbus call, on a private
# bus with palvo2-sim: both run ROUNDS times, interleaved, so that both see the same machine.
# Prints the medians and their ratio; the aim is 1.5 or less.
#   dbus-run-session -- bench/palvoctl-vs-gdbus.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=$1 rounds=${2:-200}
"$build/palvo2-sim" >/dev/null 2>&1 &
sim=$!
trap 'kill $sim' EXIT
for _ in $(seq 100); do "$build/palvoctl/palvoctl" rig >/dev/null 2>&1 && break; sleep 0.05; done
us() { local start=$EPOCHREALTIME; "$@" >/dev/null; echo $(( (${EPOCHREALTIME/./} - ${start/./}) )); }
: >/tmp/palvoctl.us; : >/tmp/gdbus.us
for _ in $(seq "$rounds"); do
  us "$build/palvoctl/palvoctl" rig >>/tmp/palvoctl.us
  us gdbus call --session --dest Palvo2.Application --object-path /Palvo2/Application \
    --method org.freedesktop.DBus.Properties.Get Palvo2.Application FqA >>/tmp/gdbus.us
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
p=$(median /tmp/palvoctl.us) g=$(median /tmp/gdbus.us)
echo "rounds $rounds"
echo "palvoctl_rig_median_us $p"
echo "gdbus_get_median_us $g"
awk -v p="$p" -v g="$g" 'BEGIN { printf "ratio %.2f\n", p / g }'
