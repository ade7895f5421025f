#!/usr/bin/env bash
# Many stations, one server: N meter-forward processes started at once, each with its own data
# file of 3,600 rows of 16 channels (57,600 readings) and 12 events, under its own station name,
# into one private PostgreSQL server; beside them one psql \copy of the same readings (all N
# stations' rows from one CSV file) into the same, emptied table. Reports the aggregate readings
# per second of each and their ratio, and checks after every run that each station has every
# reading and event exactly once.
#
# The server is a fresh cluster with PostgreSQL's default settings except max_connections (N plus
# a margin), on a socket in a temporary folder and on 127.0.0.1 at a free port; the forwarders
# connect over TCP, psql over the socket. The tables are made as meter-forward makes them. TZ is
# UTC for the whole run. Each round empties the tables, checkpoints, times one side, then the other
# (the order alternates).
#
#   bench/forward/stations.sh N     (BUILD_DIR default build-release, configured and built here;
#                                    ROUNDS default 3)
set -euo pipefail
cd "$(dirname "$0")/../.."
n=${1:?usage: bench/forward/stations.sh N}
[[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "N must be a positive number" >&2; exit 2; }
scripts/install-deps.sh
rounds=${ROUNDS:-3}
rows=3600
channels=16
events=12
readings=$((n * rows * channels))
max_connections=$((n + 20))
source bench/forward/cluster.sh

# One data file, copied for every station: an hour at one row a second, and an event log.
template="$work/template.mdb"
{
  printf 'CREATE TABLE DataRecord ("date" TEXT, "time" TEXT'
  for c in $(seq $channels); do printf ', "chan %d" REAL, "unit %d" VARCHAR(10)' "$c" "$c"; done
  printf ');\nWITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i < %d)\n' $((rows - 1))
  printf "INSERT INTO DataRecord SELECT '2026-12-01', time(i, 'unixepoch')"
  for c in $(seq $channels); do printf ", round(abs(random() %% 100000) / 100.0 + %d, 2), 'V'" "$c"; done
  printf ' FROM n;\n'
  printf 'CREATE TABLE EventLog (id INTEGER PRIMARY KEY, "date" TEXT, "time" TEXT, utc TEXT, kind TEXT, channel INTEGER, value REAL, text TEXT);\n'
  printf "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i < %d)\n" $((events - 1))
  printf "INSERT INTO EventLog (\"date\", \"time\", utc, kind, channel, value, text) SELECT '2026-12-01', time(i * 300, 'unixepoch'), '2026-12-01T' || time(i * 300, 'unixepoch') || '.000Z', 'high', 1 + i %% 16, i + 0.5, 'bench' FROM n;\n"
} | sqlite3 "$template"
station() { printf 'station-%03d' "$1"; }
for s in $(seq "$n"); do
  mkdir "$work/$(station "$s")"
  cp "$template" "$work/$(station "$s")/Data1.mdb"
done
# The CSV holds what the forwarders send: every station's rows, each reading a line.
{
  for c in $(seq $channels); do
    [ "$c" -gt 1 ] && printf ' UNION ALL '
    printf "SELECT rowid, \"date\" || ' ' || \"time\", %d, \"chan %d\", \"unit %d\" FROM DataRecord" "$c" "$c" "$c"
  done
  printf ' ORDER BY 1, 3;\n'
} | sqlite3 -csv "$template" >"$work/one.csv"
for s in $(seq "$n"); do
  awk -v st="$(station "$s")" -F, 'BEGIN { OFS = "," } { print st, "Data1.mdb", $1, $2, $2 "+00", $3, $4, $5 }' "$work/one.csv"
done >"$work/readings.csv"

# Every station holds each of its readings once, with its instant, and (after forwarding) its events.
check() {
  local want_events=$1 result
  result=$(psql_run -c "SELECT count(*), count(DISTINCT station),
      count(*) FILTER (WHERE recorded_utc IS DISTINCT FROM recorded_at AT TIME ZONE 'UTC'),
      (SELECT count(*) FROM (SELECT station FROM readings GROUP BY station
                             HAVING count(*) <> $((rows * channels))
                                 OR count(DISTINCT (row_id, channel)) <> $((rows * channels))) AS off),
      (SELECT count(*) FROM events)
    FROM readings")
  [ "$result" = "$readings|$n|0|0|$want_events" ] || {
    echo "the tables hold readings|stations|wrong instants|stations off|events = $result," \
      "not $readings|$n|0|0|$want_events" >&2
    exit 1
  }
}
run_forward() {
  fresh
  local t0 t1 pids=() failed=0
  t0=$(seconds)
  for s in $(seq "$n"); do
    "$build/meter-forward" "$work/$(station "$s")/Data1.mdb" --to "$url" --station "$(station "$s")" \
      >"$work/$(station "$s").out" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
  t1=$(seconds)
  [ "$failed" -eq 0 ] || { echo "$failed forwarders failed, e.g.:" >&2; cat "$work"/station-*.out | grep -m3 . >&2; exit 1; }
  check $((n * events))
  awk "BEGIN { print $t1 - $t0 }"
}

copied() { check 0; }
report_round() {
  local r=$1
  printf 'round %d: %d forwarders %.2f s (%.0f readings/s), psql \\copy %.2f s (%.0f readings/s)\n' "$r" "$n" \
    "${forward_times[-1]}" "$(awk "BEGIN { print $readings / ${forward_times[-1]} }")" \
    "${copy_times[-1]}" "$(awk "BEGIN { print $readings / ${copy_times[-1]} }")"
}
alternate_rounds
f=$(median "${forward_times[@]}")
c=$(median "${copy_times[@]}")
printf 'N=%d, %d readings and %d events: median %d forwarders %.2f s (%.0f readings/s), psql \\copy %.2f s (%.0f readings/s), ratio %.2f (target: at most 1.5); every reading and event once\n' \
  "$n" "$readings" $((n * events)) "$n" "$f" "$(awk "BEGIN { print $readings / $f }")" "$c" \
  "$(awk "BEGIN { print $readings / $c }")" "$(awk "BEGIN { print $f / $c }")"
