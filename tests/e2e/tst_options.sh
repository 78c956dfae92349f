#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every bad or unknown option, and a stray argument, of a host program ends it with status 2 and
# one line on stderr that names the program, before it looks for a bus.
#   tst_options.sh DIR_OF_THE_PROGRAMS
set -uo pipefail
dir=$1
failures=0
cases=()
for program in palvo2-sim palvo2-fldigi palvo2-wsjtx; do
  for args in "--bogus" "-z" "stray" "--timeout" "--timeout 5" "--help stray"; do cases+=("$program $args"); done
done
cases+=("palvo2-wsjtx --listen 127.0.0.1:99999" "palvo2-wsjtx --listen 127.0.0.1:0" "palvo2-wsjtx --listen 127.0.0.1")
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent # a program that got past its options ends with 1
for case in "${cases[@]}"; do
  program=${case%% *}
  # shellcheck disable=SC2086 # each case is words
  err=$(timeout 10 "$dir/"$case 2>&1 >/dev/null)
  status=$?
  if [ "$status" -ne 2 ] || [ "$(printf '%s\n' "$err" | grep -c .)" -ne 1 ] || [[ "$err" != "$program: "* ]]; then
    echo "FAIL: $case: status $status, stderr: $err"
    failures=$((failures + 1))
  fi
done
echo "$((${#cases[@]} - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
