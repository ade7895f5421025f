#!/usr/bin/env bash
# meter-record at line rate (meter-sim: 16 channels, 60 frames a second, a row every second), once
# without and once with --mqtt to a mosquitto broker of the script's own; both recorders run at
# the same time, so that the load of the machine weighs on both alike. Release build in
# build-release; the run's folder is removed.
#
#   bench/mqtt/run.sh [SECONDS]      (default 600 s)
#
# Prints each recorder's CPU time (user and system) as a share of one core over the run and its
# peak and final resident memory, and the latency from a frame's arrival at the recorder (the
# "time" in a channel message) to the message at a subscriber (mosquitto_sub's receive time),
# p50, p99 and the largest, over every channel message of the run.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVARNIK_SANITIZE=OFF >/dev/null
cmake --build build-release -j2 --target meter-record meter-sim varnik_data >/dev/null
bin=$PWD/build-release

run=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$run"' EXIT
source bench/broker.sh
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'bench/+/channel/+' -F '%U %p' >"$run/sub.out" &
pids+=($!)

start() { # name, more meter-record options
  local dir=$run/$1
  mkdir -p "$dir"
  cp "$bin"/data/{unit2.dat,display.dat,dispchan.dat} "$dir"/
  printf '"Comm. Port ",1\r\n"Data File Name","Bench.mdb"\r\n"System Scan Rate",1\r\n"Max Record data",65535\r\n"Text Display type",0\r\n"Angular Display Channel",0\r\n"Chart Display Channel",1\r\n"Format 01 and Special Meter",0\r\n' >"$dir/default.txt"
  XDG_CONFIG_HOME=$dir/config "$bin"/meter-sim --channels 16 --rate 60 --link "$dir/meter" >"$dir/sim.out" &
  pids+=($!)
  while [ ! -e "$dir/meter" ]; do sleep 0.1; done
  XDG_CONFIG_HOME=$dir/config "$bin"/meter-record --data-dir "$dir" --device "$dir/meter" --channels 16 "${@:2}" >"$dir/record.out" &
  pids+=($!)
  echo $! >"$dir/pid"
}
start plain
start mqtt --mqtt "mqtt://127.0.0.1:$port/bench" --station bench
plain=$(cat "$run/plain/pid") mqtt=$(cat "$run/mqtt/pid")

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
sleep 3 # start-up is not part of the steady state
p0=$(cpu $plain) m0=$(cpu $mqtt) t0=$(date +%s.%N)
sleep "$seconds"
p1=$(cpu $plain) m1=$(cpu $mqtt) t1=$(date +%s.%N)
mem() { awk '/VmHWM/ {h=$2} /VmRSS/ {r=$2} END {printf "peak %.1f MiB, at the end %.1f MiB", h/1024, r/1024}' "/proc/$1/status"; }
plainMem=$(mem $plain) mqttMem=$(mem $mqtt)
hwmDiff=$(( $(awk '/VmHWM/ {print $2}' /proc/$mqtt/status) - $(awk '/VmHWM/ {print $2}' /proc/$plain/status) ))

elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f", b - a}')
share() { awk -v a="$1" -v b="$2" -v t="$ticks" -v s="$elapsed" 'BEGIN {printf "%.3f", 100 * (b - a) / t / s}'; }
echo "run:                  $elapsed s measured (after 3 s of start-up), 16 channels at 60 frames/s each recorder"
echo "meter-record:         CPU $(share $p0 $p1) % of one core; $plainMem"
echo "meter-record --mqtt:  CPU $(share $m0 $m1) % of one core; $mqttMem"
echo "extra with --mqtt:    CPU $(awk -v a="$(share $p0 $p1)" -v b="$(share $m0 $m1)" 'BEGIN {printf "%.3f", b - a}') % of one core; peak memory $((hwmDiff / 1024)) MiB ($hwmDiff kB)"
/usr/bin/python3 - "$run/sub.out" "$t0" "$t1" <<'PY'
import json, sys
from datetime import datetime
lat = []
for line in open(sys.argv[1]):
    received, _, payload = line.partition(" ")
    try:
        received = float(received)
        sent = datetime.strptime(json.loads(payload)["time"], "%Y-%m-%dT%H:%M:%S.%fZ")
    except (ValueError, KeyError):
        continue
    if float(sys.argv[2]) <= received <= float(sys.argv[3]):
        lat.append(received - (sent - datetime(1970, 1, 1)).total_seconds())
lat.sort()
if not lat:
    sys.exit("no channel messages received")
pick = lambda q: lat[min(len(lat) - 1, int(q * len(lat)))] * 1000
print(f"latency frame -> subscriber over {len(lat)} channel messages: p50 {pick(0.5):.1f} ms, "
      f"p99 {pick(0.99):.1f} ms, largest {lat[-1] * 1000:.1f} ms")
PY
# The recorders hold their data files: stop them (cleanly) before counting.
kill -TERM "$plain" "$mqtt"
wait "$plain" "$mqtt" 2>/dev/null || true
echo "rows: $(sqlite3 "$run/plain/Bench.mdb" 'select count(*) from DataRecord') without, $(sqlite3 "$run/mqtt/Bench.mdb" 'select count(*) from DataRecord') with --mqtt"
grep -h "MQTT" "$run/mqtt/record.out" | head -n 4
