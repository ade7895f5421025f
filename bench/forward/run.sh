#!/usr/bin/env bash
# Forwarding benchmark: meter-forward catching up a backlog of 65,535 rows of 16 channels
# (1,048,560 readings) into an empty central table, beside psql's \copy of the same readings from
# a CSV file into the same table, in the same run, on a private PostgreSQL server.
#
# The server is a fresh cluster (initdb in a temporary folder, run as the postgres user when this
# runs as root) with PostgreSQL's default settings, listening on a socket in that folder and on
# 127.0.0.1 at a free port; meter-forward connects over TCP, psql over the socket. The data file
# is made with sqlite3 (readings with two decimals, units "V"); the CSV holds exactly the rows
# meter-forward sends (station, data_file, row_id, recorded_at, recorded_utc, channel, value, unit;
# the run is in UTC, so recorded_utc is recorded_at). Each of
# ROUNDS rounds empties the table, checkpoints, times one tool, empties, checkpoints, times the
# other (the order alternates), and checks that the table then holds 1,048,560 readings.
#
#   bench/forward/run.sh            (BUILD_DIR default build-release, configured and built here;
#                                    ROUNDS default 3)
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh
rounds=${ROUNDS:-3}
source bench/forward/cluster.sh

data="$work/Data1.mdb"
{
  printf 'CREATE TABLE DataRecord ("date" TEXT, "time" TEXT'
  for c in $(seq 16); do printf ', "chan %d" REAL, "unit %d" VARCHAR(10)' "$c" "$c"; done
  printf ');\nWITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i < 65534)\n'
  printf "INSERT INTO DataRecord SELECT date('2026-12-01', '+' || (i / 86400) || ' days'), time(i %% 86400, 'unixepoch')"
  for c in $(seq 16); do printf ", round(abs(random() %% 100000) / 100.0 + %d, 2), 'V'" "$c"; done
  printf ' FROM n;\n'
} | sqlite3 "$data"
{
  for c in $(seq 16); do
    [ "$c" -gt 1 ] && printf ' UNION ALL '
    printf "SELECT 'psql', 'Data1.mdb', rowid, \"date\" || ' ' || \"time\", \"date\" || ' ' || \"time\" || '+00', %d, \"chan %d\", \"unit %d\" FROM DataRecord" "$c" "$c" "$c"
  done
  printf ' ORDER BY 3, 6;\n'
} | sqlite3 -csv "$data" >"$work/readings.csv"

check() {
  local n
  n=$(psql_run -c "SELECT count(*) FROM readings")
  [ "$n" = 1048560 ] || { echo "the table holds $n readings, not 1048560" >&2; exit 1; }
}
run_forward() {
  fresh
  local t0 t1
  t0=$(seconds)
  "$build/meter-forward" "$data" --to "$url" --station bench >/dev/null
  t1=$(seconds)
  check
  awk "BEGIN { print $t1 - $t0 }"
}

copied() { check; }
report_round() {
  local r=$1
  printf 'round %d: meter-forward %.2f s, psql \\copy %.2f s\n' "$r" "${forward_times[-1]}" "${copy_times[-1]}"
}
alternate_rounds
f=$(median "${forward_times[@]}")
c=$(median "${copy_times[@]}")
printf 'median: meter-forward %.2f s, psql \\copy %.2f s, ratio %.2f (target: at most 1.5)\n' "$f" "$c" "$(awk "BEGIN { print $f / $c }")"
