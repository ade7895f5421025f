#!/usr/bin/env bash
# scripts/run.sh, however a run ends (by itself, a crash, Ctrl+C to the whole process group, SIGTERM,
# at several moments): never empties or loses the user's settings file, keeps what the program
# saved without the simulator's port mapping, leaves no temporary file, no simulator and no
# program behind, and ends with the program's exit code, 130 after Ctrl+C, 143 after SIGTERM.
# Two runs at once from one clone build one after the other. run.sh runs in a sandbox: its build
# and install steps are stubs, the program and meter-sim are small scripts driven by the test.
#   tests/scripts/run_script_test.sh [RUN_SH]   (default: this tree's scripts/run.sh)
set -euo pipefail
# The fake tree builds into build/: a BUILD_DIR that scripts/test.sh was given must not reach run.sh.
unset BUILD_DIR
here=$(cd "$(dirname "$0")" && pwd)
run_sh=$(readlink -f "${1:-$here/../../scripts/run.sh}")
sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
failures=0

# The fake tree: run.sh, a no-op install step, a cmake that builds nothing, the fake programs.
# Each run has a folder of marks ($MARKS) through which the fakes say what they do.
repo="$sandbox/repo"
mkdir -p "$repo/scripts" "$repo/build/data" "$sandbox/bin"
cp "$run_sh" "$repo/scripts/run.sh"
printf '#!/bin/sh\nexit 0\n' >"$repo/scripts/install-deps.sh"
cat >"$sandbox/bin/cmake" <<'EOF2'
#!/bin/bash
# Fake cmake: builds nothing. With BUILD_LOG set it writes "RUN begins|ends STEP" there, and the
# build step of the run named HOLD waits until the file $BUILD_LOG.go exists.
[ -n "${BUILD_LOG:-}" ] || exit 0
echo "$RUN begins $1" >>"$BUILD_LOG"
if [ "$1" = --build ] && [ "$RUN" = "${HOLD:-}" ]; then
  until [ -e "$BUILD_LOG.go" ]; do sleep 0.02; done
fi
echo "$RUN ends $1" >>"$BUILD_LOG"
EOF2
printf '"Comm. Port ",2\r\n' >"$repo/build/data/default.txt"
cat >"$repo/build/meter-sim" <<'EOF2'
#!/bin/bash
# Fake simulator: makes the --link path, says where it is, runs until SIGINT or SIGTERM stops it
# and then ends with exit code 0, as meter-sim does. (A background job starts with SIGINT ignored,
# which bash cannot trap: it starts again with SIGINT as default.)
[ -n "${SIGINT_DEFAULT:-}" ] || SIGINT_DEFAULT=1 exec env --default-signal=INT "$0" "$@"
echo $$ >"$MARKS/sim.pid"
ln -s /dev/null "$2"
echo /dev/pts/fake
trap 'kill $sleeper; exit 0' INT TERM
sleep 1000 &
sleeper=$!
wait
EOF2
cat >"$repo/build/Varnik350" <<'EOF2'
#!/bin/bash
# Fake program. FAKE_MODE save: saves the settings and ends; crash: saves and crashes; hang: runs
# (file "running") until SIGTERM ends it, ignoring Ctrl+C, and saves nothing; stops: runs until
# SIGINT or SIGTERM, then saves and ends with exit code 0. File "ended": it saved and ends.
if [ "$FAKE_MODE" = stops ] && [ -z "${SIGINT_DEFAULT:-}" ]; then
  SIGINT_DEFAULT=1 exec env --default-signal=INT "$0"
fi
echo $$ >"$MARKS/program.pid"
conf="$XDG_CONFIG_HOME/Varnik350/Varnik350.conf"
grep -q '^COM2=' "$conf" || { echo "no simulator mapping for COM2" >&2; exit 9; }
save() {
  # As the settings store does: the whole file written anew, the mapping it read included.
  { cat "$conf"; printf '[Settings]\nMainLeft=42\n'; } >"$conf.new" && mv "$conf.new" "$conf"
  touch "$MARKS/ended"
}
case "$FAKE_MODE" in
  save) save; exit 0 ;;
  crash) save; kill -SEGV $$ ;;
  hang) touch "$MARKS/running"; exec sleep 1000 ;;
  stops)
    trap 'save; kill $sleeper; exit 0' INT TERM
    sleep 1000 &
    sleeper=$!
    touch "$MARKS/running"
    wait ;;
esac
EOF2
# Slow tools, for an interrupt in the middle of the copy back: once the program has ended, the
# first of them that run.sh calls says so (file "running") and takes a second.
cat >"$sandbox/slow-tool" <<'EOF2'
#!/bin/bash
if [ -e "$MARKS/ended" ] && [ ! -e "$MARKS/running" ]; then
  touch "$MARKS/running"
  sleep 1
fi
exec "/usr/bin/$(basename "$0")" "$@"
EOF2
chmod +x "$repo/scripts/"*.sh "$repo/build/meter-sim" "$repo/build/Varnik350" "$sandbox/bin/cmake" "$sandbox/slow-tool"
mkdir -p "$sandbox/slow-bin"
for tool in awk grep mv mktemp cp; do ln -sf "$sandbox/slow-tool" "$sandbox/slow-bin/$tool"; done

original=$'[Settings]\nMainLeft=7\nBaudRate=2400\n'

# Waits up to 10 s for a condition (a command).
wait_for() {
  for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done
  return 1
}
is_file() { [ -e "$1" ]; }
said() { grep -qF "$2" "$sandbox/out-$1"; }
ended() { ! kill -0 "$1" 2>/dev/null; }

# Starts a run in the background: $1 name, $2 FAKE_MODE, $3 "slow" for slow tools, $4 "<none>"
# when the user has no settings file yet; more arguments are set in its environment. Its process
# id is left in $run_pid.
start_run() {
  local name=$1 mode=$2 slow=$3 settings=$4
  shift 4
  local home="$sandbox/home-$name" path="$sandbox/bin:$PATH"
  mkdir -p "$home/config/Varnik350" "$home/tmp" "$sandbox/marks-$name"
  [ "$settings" = "<none>" ] || printf '%s' "$original" >"$home/config/Varnik350/Varnik350.conf"
  [ "$slow" = slow ] && path="$sandbox/slow-bin:$path"
  # In a group of its own, with SIGINT as a terminal's shell leaves it (a script's background
  # job would start with it ignored).
  setsid env --default-signal=INT,QUIT PATH="$path" HOME="$home" XDG_CONFIG_HOME="$home/config" \
    TMPDIR="$home/tmp" MARKS="$sandbox/marks-$name" FAKE_MODE="$mode" QT_QPA_PLATFORM=offscreen \
    RUN="$name" "$@" "$repo/scripts/run.sh" >"$sandbox/out-$name" 2>&1 &
  run_pid=$!
}

# Interrupts a run, once it has reached the moment (file "running"): $1 name, $2 pid, $3 INT (to
# the whole process group, as Ctrl+C does) or TERM (to the script alone).
interrupt() {
  wait_for is_file "$sandbox/marks-$1/running" ||
    echo "did not reach the moment of the interrupt" >>"$sandbox/out-$1"
  if [ "$3" = INT ]; then kill -INT -- "-$2"; else kill -TERM "$2"; fi
}

# Waits for a run to end and checks what it left: $1 name, $2 pid, $3 the exit code expected,
# $4 the settings file expected: "original", "saved" (the original, then what the program saved,
# without the simulator's mapping) or "<none>" (no file).
finish_run() {
  local name=$1 pid=$2 expected_status=$3 expected=$4
  local home="$sandbox/home-$name" marks="$sandbox/marks-$name"
  local conf="$home/config/Varnik350/Varnik350.conf"
  local status=0 problems=()
  # A run that does not end within 10 s has ignored the interrupt.
  if ! wait_for ended "$pid"; then
    problems+=("run.sh still running")
    kill -KILL -- "-$pid" 2>/dev/null || true
  fi
  wait "$pid" || status=$?
  [ "$status" -eq "$expected_status" ] || problems+=("exit code $status, expected $expected_status")
  if [ "$expected" = "<none>" ]; then
    [ ! -e "$conf" ] || problems+=("a settings file was made: $(tr '\n' '|' <"$conf")")
  elif [ ! -s "$conf" ]; then
    problems+=("the settings file is empty or gone")
  elif [ "$expected" = original ] && [ "$(cat "$conf")" != "${original%$'\n'}" ]; then
    problems+=("settings file changed: $(tr '\n' '|' <"$conf")")
  elif [ "$expected" = saved ] && { [ "$(head -n3 "$conf")" != "${original%$'\n'}" ] ||
    ! grep -qx 'MainLeft=42' "$conf" || grep -q '/meter$' "$conf"; }; then
    problems+=("settings file: $(tr '\n' '|' <"$conf"), expected the original, MainLeft=42, no mapping")
  fi
  local left
  left=$(find "$home/config/Varnik350" "$home/tmp" -mindepth 1 ! -name Varnik350.conf)
  [ -z "$left" ] || problems+=("left behind: $left")
  local what
  for what in sim program; do
    if [ -s "$marks/$what.pid" ] && kill -0 "$(cat "$marks/$what.pid")" 2>/dev/null; then
      problems+=("the $what still runs")
      kill -KILL "$(cat "$marks/$what.pid")"
    fi
  done
  if [ ${#problems[@]} -eq 0 ]; then
    echo "PASS   : $name (exit $status)"
  else
    failures=$((failures + 1))
    echo "FAIL!  : $name (exit $status): ${problems[*]}"
    sed 's/^/         /' "$sandbox/out-$name"
  fi
}

# One run: $1 name, $2 FAKE_MODE, $3 how it ends: "" (by itself), INT or TERM; $4 "slow" to
# interrupt the copy back; $5 the exit code expected; $6 the settings file expected.
check() {
  start_run "$1" "$2" "$4" "$6"
  [ -z "$3" ] || interrupt "$1" "$run_pid" "$3"
  finish_run "$1" "$run_pid" "$5" "$6"
}

# How a run ends. The program as it is (hang) dies on SIGTERM and saves nothing; the one that
# stops cleanly (stops) saves first. The simulator stops on Ctrl+C by itself.
check "ends by itself" save "" "" 0 saved
check "crashes after saving" crash "" "" 139 saved
check "Ctrl+C while the program runs" hang INT "" 130 original
check "SIGTERM while the program runs" hang TERM "" 143 original
check "Ctrl+C, the program saves as it stops" stops INT "" 130 saved
check "SIGTERM, the program saves as it stops" stops TERM "" 143 saved
check "Ctrl+C, no settings file before" hang INT "" 130 "<none>"
# Once the program has ended, an interrupt does not cut the copy back short: it is completed.
check "Ctrl+C during the copy back" save INT slow 0 saved
check "SIGTERM during the copy back" save TERM slow 0 saved

# Two runs at once from one clone: the second says it waits and builds nothing while the first
# configures and builds; then it builds and starts its program while the first one's still runs.
log="$sandbox/build.log"
: >"$log"
start_run "first of two at once" hang "" "" BUILD_LOG="$log" HOLD="first of two at once"
first=$run_pid
wait_for grep -q "first of two at once begins --build" "$log" || echo "the first build did not start" >>"$log"
start_run "second of two at once" save "" "" BUILD_LOG="$log"
second=$run_pid
problems=()
wait_for said "second of two at once" "another build is running in build; waiting for it" ||
  problems+=("the second run did not say it waits")
! grep -q "^second" "$log" || problems+=("the second run built while the first was building")
touch "$log.go"
wait_for ended "$second" || problems+=("the second run waited for the first one's program")
said "first of two at once" "waiting" && problems+=("the first run waited")
expected_log="first of two at once begins -S
first of two at once ends -S
first of two at once begins --build
first of two at once ends --build
second of two at once begins -S
second of two at once ends -S
second of two at once begins --build
second of two at once ends --build"
[ "$(cat "$log")" = "$expected_log" ] || problems+=("steps: $(tr '\n' '|' <"$log")")
if [ ${#problems[@]} -eq 0 ]; then
  echo "PASS   : two runs at once build one after the other"
else
  failures=$((failures + 1))
  echo "FAIL!  : two runs at once: ${problems[*]}"
fi
finish_run "second of two at once" "$second" 0 saved
interrupt "first of two at once" "$first" INT
finish_run "first of two at once" "$first" 130 original

echo "Totals: $failures failed"
[ "$failures" -eq 0 ]
