#!/usr/bin/env bash
# A multimeter through libsigrok: CPU of meter-record and of its helper meter-sigrok with one demo
# channel at 4 readings a second, and the helper's resident memory over the run. Release build in
# build-release; the run's folder is removed.
#
#   bench/sigrok/run.sh [SECONDS] [SAMPLE-SECONDS] [SOURCE]
#       default 600 s, a memory sample every 60 s,
#       SOURCE sigrok:demo:analog_channels=1:logic_channels=0:samplerate=4
#
# For the memory per reading, a faster source: five demo channels at the demo's highest packet
# rate (about 19 packets a second each):
#   bench/sigrok/run.sh 600 60 sigrok:demo:analog_channels=5:logic_channels=0:samplerate=10000:channels=5
#
# A multimeter through libsigrok's serial driver instead (root: scripts/sigrok-pty.sh): meter-sim
# --protocol fs9721 --rate FS9721_RATE on a pseudo-terminal that meter-record sees as /dev/ttyS0,
# source sigrok:tekpower-tp4000ZC:conn=/dev/ttyS0:
#   FS9721_RATE=4 bench/sigrok/run.sh 300 60
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
every=${2:-60}
source=${3:-sigrok:demo:analog_channels=1:logic_channels=0:samplerate=4}

targets=(meter-record meter-sigrok meter-sim pty_modem_lines varnik_data)
source bench/data-folder.sh
wrap=()
if [ -n "${FS9721_RATE:-}" ]; then
  source=sigrok:tekpower-tp4000ZC:conn=/dev/ttyS0
  "$bin"/meter-sim --protocol fs9721 --rate "$FS9721_RATE" --sequence "1.234 V DC x3; 1.235 V DC x3" >"$run/sim.out" &
  sim=$!
  while [ ! -s "$run/sim.out" ]; do sleep 0.05; done
  wrap=(scripts/sigrok-pty.sh "$bin"/libpty_modem_lines.so "$(head -n 1 "$run/sim.out")")
fi
"${wrap[@]}" "$bin"/meter-record --data-dir "$run" --channels 8 --source "$source" >"$run/record.out" &
rec=$!
helper() { pgrep -P $rec meter-sigrok | head -n 1; }
while [ -z "$(helper)" ]; do sleep 0.1; done
sleep 5 # start-up is not part of the steady state
hp=$(helper)
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
sim=${sim:-}
rec0=$(cpu $rec) h0=$(cpu $hp) s0=$([ -z "$sim" ] || cpu $sim) t0=$(date +%s.%N)
echo "second  helper-VmRSS-kB  recorder-VmRSS-kB"
for ((s = 0; s <= seconds; s += every)); do
  echo "$s  $(rss $hp)  $(rss $rec)"
  [ $s -lt $seconds ] && sleep "$every"
done
rec1=$(cpu $rec) h1=$(cpu $hp) s1=$([ -z "$sim" ] || cpu $sim) t1=$(date +%s.%N)
[ "$hp" = "$(helper)" ] || echo "(the helper was restarted during the run: its CPU is not comparable)"
kill -TERM $rec
wait $rec || true
elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f", b - a}')
share() { awk -v a="$1" -v b="$2" -v t="$ticks" -v s="$elapsed" 'BEGIN {printf "%.3f", 100 * (b - a) / t / s}'; }
echo "run:           $elapsed s measured (after 5 s of start-up), source $source"
echo "meter-record:  CPU $(share $rec0 $rec1) % of one core"
echo "meter-sigrok:  CPU $(share $h0 $h1) % of one core"
[ -z "$sim" ] || echo "meter-sim:     CPU $(share $s0 $s1) % of one core"
echo "rows recorded: $(sqlite3 "$run/Bench.mdb" 'select count(*) from DataRecord')"
