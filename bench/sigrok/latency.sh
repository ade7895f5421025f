#!/usr/bin/env bash
# Latency from a meter's packet to the data file's row and to the MQTT reading message, for a
# multimeter through libsigrok's serial driver and, in the same run, for the instrument. Needs root
# (scripts/sigrok-pty.sh). Release build in build-release; the run's folder is removed.
#
#   bench/sigrok/latency.sh [SECONDS] [RATE]   default 300 s, 3.93 packets a second: packets meet
#                                               the 1-s scan tick at 393 phases 2.5 ms apart
#                                               (at 3.9 a second only at 39, 25.6 ms apart)
#   STAMP=1 bench/sigrok/latency.sh ...              also logs when each line leaves meter-sigrok
#
# bench_sigrok sends packets with a value each (fs9721: 2400 baud, bytes paced to the line; the
# instrument's 16-byte frames at 9600 baud) and logs the instant of each packet's last byte.
# meter-record records the multimeter (sigrok:tekpower-tp4000ZC:conn=/dev/ttyS0, inside
# sigrok-pty.sh) and a second meter-record the instrument (--device), a row a second, both with
# --mqtt to a mosquitto of the script's own; mosquitto_sub stamps each channel-1 and row message
# on arrival. Each message's value names its packet (the latest packet with that value).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-300}
rate=${2:-3.93}
driver=tekpower-tp4000ZC

targets=(meter-record meter-sigrok bench_sigrok pty_modem_lines varnik_data)
source bench/data-folder.sh
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$run"' EXIT

source bench/broker.sh
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'bench/+/channel/1' -t 'bench/+/row' -F '%U %t %p' >"$run/sub.out" &
pids+=($!)

writer() { # name protocol: starts bench_sigrok; its pseudo-terminal in $run/NAME.pty
  "$bin"/bench/bench_sigrok --protocol "$2" --rate "$rate" --log "$run/$1.packets" >"$run/$1.pty" &
  pids+=($!)
  while [ ! -s "$run/$1.pty" ]; do sleep 0.05; done
}
folder() { mkdir -p "$run/$1" && cp "$run"/{unit2.dat,display.dat,dispchan.dat,default.txt} "$run/$1"/; }
mqtt=(--mqtt "mqtt://127.0.0.1:$port/bench" --no-discovery)

folder dmm
if [ "${STAMP:-0}" = 1 ]; then
  export VARNIK_SIGROK_HELPER=$PWD/bench/sigrok/stamp-lines.py STAMP_HELPER=$bin/meter-sigrok STAMP_LOG=$run/dmm.lines
fi
writer dmm fs9721
scripts/sigrok-pty.sh "$bin"/libpty_modem_lines.so "$(head -n 1 "$run/dmm.pty")" "$bin"/meter-record --data-dir "$run/dmm" \
  --channels 8 --source "sigrok:$driver:conn=/dev/ttyS0" "${mqtt[@]}" --station dmm >"$run/dmm/record.out" 2>&1 &
pids+=($!)
dmm=$!
unset VARNIK_SIGROK_HELPER
folder meter
writer meter meter
"$bin"/meter-record --data-dir "$run/meter" --device "$(head -n 1 "$run/meter.pty")" --channels 8 "${mqtt[@]}" \
  --station meter >"$run/meter/record.out" 2>&1 &
pids+=($!)
meter=$!

t0=$(date +%s.%N)
sleep "$seconds"
t1=$(date +%s.%N)
kill -TERM "$dmm" "$meter"
wait "$dmm" "$meter" 2>/dev/null || true
echo "run: $seconds s at $rate packets a second, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
/usr/bin/python3 bench/sigrok/latency.py "$run" "$t0" "$t1"
grep -h "sigrok\|error" "$run/dmm/record.out" | head -n 5
