#!/usr/bin/env bash
# The memory week of a multimeter source, compressed: resident memory of meter-record and of its
# helper while READINGS readings (default 6,048,000: a week at 10 a second) go through them as fast
# as they can take them. Release build in build-release; the run's folder is removed.
#
#   bench/sigrok/memory.sh stand-in [READINGS] [EVERY]   meter-record's side: the helper is
#       bench/sigrok/stand-in.sh (VARNIK_SIGROK_HELPER), which writes reading lines as fast as the
#       recorder reads them
#   bench/sigrok/memory.sh fs9721 [READINGS] [EVERY]     the whole path (root, scripts/sigrok-pty.sh):
#       bench_sigrok writes FS9721 packets as fast as they are read, the real meter-sigrok decodes
#       them with libsigrok's serial driver (sigrok:tekpower-tp4000ZC:conn=/dev/ttyS0)
#   MQTT=1 ... also publishes (--mqtt) to a mosquitto of the script's own
#
# Every EVERY seconds (default 5): readings so far (meter-record's /metrics), VmRSS of meter-record
# and of the helper running then, and their sum. At the end: the least-squares slope of each after
# the warm-up (readings from WARMUP, default 500,000, on) and the helper's largest size per life
# (the source restarts it after 250,000 readings).
set -euo pipefail
cd "$(dirname "$0")/../.."
mode=${1:?usage: bench/sigrok/memory.sh stand-in|fs9721 [READINGS] [EVERY]}
target=${2:-6048000}
every=${3:-5}
warmup=${WARMUP:-500000}

targets=(meter-record meter-sigrok bench_sigrok pty_modem_lines varnik_data)
source bench/data-folder.sh
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$run"' EXIT
http=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
more=(--http "127.0.0.1:$http")
if [ "${MQTT:-0}" = 1 ]; then
  source bench/broker.sh
  more+=(--mqtt "mqtt://127.0.0.1:$port/bench" --station bench)
fi
wrap=()
case $mode in
  stand-in)
    export VARNIK_SIGROK_HELPER=$PWD/bench/sigrok/stand-in.sh
    source=sigrok:standin ;;
  fs9721)
    "$bin"/bench/bench_sigrok --protocol fs9721 --rate 0 >"$run/pty" &
    pids+=($!)
    while [ ! -s "$run/pty" ]; do sleep 0.05; done
    wrap=(scripts/sigrok-pty.sh "$bin"/libpty_modem_lines.so "$(head -n 1 "$run/pty")")
    source=sigrok:tekpower-tp4000ZC:conn=/dev/ttyS0 ;;
  *) echo "mode: stand-in or fs9721" >&2; exit 2 ;;
esac
"${wrap[@]}" "$bin"/meter-record --data-dir "$run" --channels 8 --source "$source" "${more[@]}" >"$run/record.out" 2>&1 &
rec=$!
pids+=($rec)

rss() { awk '/VmRSS/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }
readings() { curl -s "http://127.0.0.1:$http/metrics" | awk '/^varnik_frames_received_total/ {printf "%d", $2}'; }
t0=$(date +%s.%N)
echo "second  readings  meter-record-kB  helper-kB  sum-kB  helper-pid"
while :; do
  sleep "$every"
  done=$(readings || true)
  hp=$(pgrep -P "$rec" | head -n 1 || true)
  [ -n "$hp" ] || continue
  r=$(rss "$rec") h=$(rss "$hp")
  printf '%6.0f  %8s  %15s  %9s  %6s  %s\n' "$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN {print b - a}')" \
    "${done:-0}" "$r" "$h" $((r + h)) "$hp" | tee -a "$run/samples"
  [ "${done:-0}" -ge "$target" ] && break
done
elapsed=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN {printf "%.0f", b - a}')
echo "mode $mode: $done readings in $elapsed s ($((done / elapsed)) a second), load average $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v warm="$warmup" '
  $2 >= warm { n++; x = $2 / 1e6; sx += x; sxx += x * x
               for (k = 3; k <= 5; k++) { sy[k] += $k; sxy[k] += x * $k; if (!(k in lo) || $k < lo[k]) lo[k] = $k; if ($k > hi[k]) hi[k] = $k } }
  { life[$6] = life[$6] > $4 ? life[$6] : $4; if (!($6 in first)) { first[$6] = $2; order[++lives] = $6 } }
  END {
    split("meter-record helper sum", name)
    for (k = 3; k <= 5; k++)
      printf "after %d readings, %s: %d samples, %d..%d kB, slope %.1f kB per million readings\n", warm, name[k - 2], n,
             lo[k], hi[k], (n * sxy[k] - sx * sy[k]) / (n * sxx - sx * sx)
    printf "helper lives (pid: from reading, largest kB):"
    for (i = 1; i <= lives; i++) printf " %s: %d, %d;", order[i], first[order[i]], life[order[i]]
    print ""
  }' "$run/samples"
kill -TERM "$rec"
wait "$rec" 2>/dev/null || true
echo "rows: $(sqlite3 "$run/Bench.mdb" 'select count(*) from DataRecord'); restarts: $(grep -c 'helper restarted after' "$run/record.out" || true)"
grep -v "helper restarted after" "$run/record.out" | tail -n 4
