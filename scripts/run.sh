#!/usr/bin/env bash
# Builds the program and starts it. When no meter is mapped in the settings store (group "Ports"),
# the instrument simulator meter-sim is started and mapped to the configured port for this run
# only: the run uses a copy of the user's settings, and what the program saves there (window
# placement, baud rate, a port mapped in System Setup) is copied back without the simulator's
# mapping, however the run ends. A meter counts as mapped when some "COMn" key of that group names
# a device. Exit code: the program's; 130 after Ctrl+C, 143 after SIGTERM; 1 without a display.
# Usage: scripts/run.sh [--generic]   (--generic starts the Datalogger identity, default Varnik350)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
program=Varnik350
[ "${1:-}" = "--generic" ] && program=Datalogger
virtual_display="xvfb-run -a -s '-screen 0 1280x1024x24' scripts/run.sh"
display=yes
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  display=""
  # Said before the minutes of installing and building, not only after them.
  echo "No display found: the program and its tools will be built into $build/, but the program not started. To start it, use a virtual display:  $virtual_display"
fi
# Only what building and running needs: no server, broker or browser (those are for the tests).
scripts/install-deps.sh --run

# Two runs at once from one clone must not build into one folder together (one compiler reading a
# precompiled header while the other writes it can take all the memory): configuring and building
# hold a lock on a file in the build folder, released before the program starts. The build's own
# processes do not inherit it (9>&-), so none of them can keep it after the build.
mkdir -p "$build"
exec 9>"$build/.build-lock"
flock -n 9 || { echo "another build is running in $build; waiting for it"; flock 9; }
generator=()
# Ninja for a new build folder; one made earlier keeps the generator it was made with.
[ -f "$build/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null 9>&-
# The program (both names), the shipped data and every command-line tool the README names; not the
# tests and the benchmarks.
cmake --build "$build" -j"$(nproc)" --target varnik_programs 9>&-
exec 9>&-

if [ -z "$display" ]; then
  echo "No display found. Run it under a virtual display instead:  $virtual_display"
  exit 1
fi

conf_home=${XDG_CONFIG_HOME:-$HOME/.config}
conf="$conf_home/Varnik350/Varnik350.conf"
# A meter is mapped when some port number names a device (System Setup > COM Port Detect).
if [ -f "$conf" ] && awk '/^\[/{ports = ($0 == "[Ports]")} ports && /^COM[0-9]+=./{found = 1} END{exit !found}' "$conf"; then
  exec "$build/$program"
fi

sim_pid=""
program_pid=""
port=1
run_dir=""
run_conf=""
start_conf=""

# Ends a process started here and waits for it: SIGTERM, and SIGKILL when it still runs after 10 s.
# One that has ended already is no error (Ctrl+C reaches the program and the simulator too).
stop() {
  kill "$1" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
# Keeps what the program saved (window placement, baud rate, a port mapped in System Setup),
# without the simulator's mapping; a run in which it saved nothing leaves the user's file alone.
# The user's file is replaced in one rename, and only by a complete copy.
copy_back() {
  [ -f "$start_conf" ] && [ -s "$run_conf" ] || return
  cmp -s "$run_conf" "$start_conf" && return
  mkdir -p "$(dirname "$conf")" || return
  local tmp_conf
  tmp_conf=$(mktemp "$conf.XXXXXX") || return
  if { grep -vxF "COM$port=$run_dir/meter" "$run_conf" || [ $? -eq 1 ]; } >"$tmp_conf"; then
    mv -f "$tmp_conf" "$conf"
  fi
  rm -f "$tmp_conf"
}
# Runs on every exit. Each step goes on whatever the one before met, and a second Ctrl+C or
# SIGTERM cannot cut it short (it waits 10 s at the most for each process): the exit code stays
# the one the run ended with.
cleanup() {
  set +e
  trap '' INT TERM
  [ -n "$program_pid" ] && stop "$program_pid"
  [ -n "$run_dir" ] && copy_back
  [ -n "$sim_pid" ] && stop "$sim_pid"
  [ -n "$run_dir" ] && rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
run_dir=$(mktemp -d)
run_conf="$run_dir/config/Varnik350/Varnik350.conf"
# The run's settings as the program found them; made just before the program starts.
start_conf="$run_dir/start.conf"
mkdir -p "$run_dir/config/Varnik350"
[ -f "$conf" ] && awk '/^\[/{skip = ($0 == "[Ports]")} !skip' "$conf" >"$run_conf"
# The simulator sends as many channels as the data file records, so that every reading shown is
# recorded: the configured data file's channel count, or 8 when it is still to be made (the program
# makes a missing data file with 8 channels; Setup > Create New Data File makes one of 12 or 16).
channels=8
data_file=""
if [ -f "$build/data/default.txt" ]; then
  data_file=$(sed -n 's/^"Data File Name","\([^"]*\)".*/\1/p' "$build/data/default.txt" | tr -d '\r' | head -n1)
fi
[ -n "$data_file" ] && [ ! -f "$build/data/$data_file" ] && [ -f "$build/data/$data_file.mdb" ] && data_file=$data_file.mdb
if [ -n "$data_file" ] && [ -f "$build/data/$data_file" ] && command -v sqlite3 >/dev/null; then
  n=$(sqlite3 -readonly "$build/data/$data_file" \
        "select count(*) from pragma_table_info('DataRecord') where name like 'chan %'" 2>/dev/null || true)
  case "$n" in 8|12|16) channels=$n ;; esac
fi
"$build/meter-sim" --link "$run_dir/meter" --channels "$channels" >"$run_dir/sim.out" &
sim_pid=$!
for _ in $(seq 50); do [ -e "$run_dir/meter" ] && break; sleep 0.1; done
if [ -f "$build/data/default.txt" ]; then
  port=$(head -n1 "$build/data/default.txt" | tr -d '\r' | sed -n 's/^"Comm. Port ",\([0-9]*\).*/\1/p')
  [ -n "$port" ] || port=1
fi
printf '[Ports]\nCOM%s=%s\n' "$port" "$run_dir/meter" >>"$run_conf"
echo "No meter mapped: using the simulator ($channels channels) on $(head -n1 "$run_dir/sim.out") as COM$port for this run."

cp "$run_conf" "$start_conf"
status=0
# Started in the background and waited for, so that SIGINT and SIGTERM reach the traps at once
# (a foreground program would delay them until it ends); the clean-up ends the program and copies
# back what it saved.
XDG_CONFIG_HOME="$run_dir/config" "$build/$program" &
program_pid=$!
wait "$program_pid" || status=$?
program_pid=""
exit $status
