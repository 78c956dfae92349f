# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced first by the benchmarks that drive a real fldigi: bench/private.sh, then fldigi with a
# fresh configuration, answering on 127.0.0.1:7362 (its port keys the transmitter).
source bench/private.sh
mkdir -p "$scratch/cfg" "$scratch/home"
echo '<FLDIGI_DEFS></FLDIGI_DEFS>' >"$scratch/cfg/fldigi_def.xml"
sleep 0.5
DISPLAY=$display HOME=$scratch/home fldigi --config-dir "$scratch/cfg/" --home-dir "$scratch/home/" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 600); do (exec 3<>/dev/tcp/127.0.0.1/7362) 2>/dev/null && break; sleep 0.1; done

