#!/usr/bin/env bash
# scripts/run.sh interrupted at several moments never empties or loses the user's settings file,
# leaves no temporary file and no simulator behind; a run that ends (even by a crash) keeps what
# the program saved, without the simulator's port mapping. run.sh runs in a sandbox: its build
# and install steps are stubs, the program and meter-sim are small scripts driven by the test.
#   tests/scripts/run_script_test.sh [RUN_SH]   (default: this tree's scripts/run.sh)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
run_sh=$(readlink -f "${1:-$here/../../scripts/run.sh}")
sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
failures=0

# The fake tree: run.sh, a no-op install step, a cmake that builds nothing, the fake programs.
repo="$sandbox/repo"
mkdir -p "$repo/scripts" "$repo/build/data" "$sandbox/bin"
cp "$run_sh" "$repo/scripts/run.sh"
printf '#!/bin/sh\nexit 0\n' >"$repo/scripts/install-deps.sh"
printf '#!/bin/sh\nexit 0\n' >"$sandbox/bin/cmake"
printf '"Comm. Port ",2\r\n' >"$repo/build/data/default.txt"
cat >"$repo/build/meter-sim" <<'EOF'
#!/bin/bash
# Fake simulator: makes the --link path, says where it is, runs until it is stopped (and then
# ends with exit code 0, as meter-sim does).
echo $$ >"$SANDBOX/sim.pid"
ln -s /dev/null "$2"
echo /dev/pts/fake
trap 'kill $sleeper; exit 0' TERM
sleep 1000 &
sleeper=$!
wait
EOF
cat >"$repo/build/Varnik350" <<'EOF'
#!/bin/bash
# Fake program: FAKE_MODE save = saves settings and ends; crash = saves and crashes;
# hang = says it runs (file "running") and waits to be stopped.
conf="$XDG_CONFIG_HOME/Varnik350/Varnik350.conf"
grep -q '^COM2=' "$conf" || { echo "no simulator mapping for COM2" >&2; exit 9; }
if [ "$FAKE_MODE" != hang ]; then
  # As the settings store does: the whole file written anew, the mapping it read included.
  { cat "$conf"; printf '[Settings]\nMainLeft=42\n'; } >"$conf.new" && mv "$conf.new" "$conf"
fi
[ "$FAKE_MODE" = hang ] || touch "$SANDBOX/ended"
case "$FAKE_MODE" in
  save) exit 0 ;;
  crash) kill -SEGV $$ ;;
  hang) touch "$SANDBOX/running"; exec sleep 1000 ;;
esac
EOF
# Slow tools, for an interrupt in the middle of the copy back: once the program has ended, the
# first of them that run.sh calls says so (file "running") and takes a second.
cat >"$sandbox/slow-tool" <<'EOF'
#!/bin/bash
if [ -e "$SANDBOX/ended" ] && [ ! -e "$SANDBOX/running" ]; then
  touch "$SANDBOX/running"
  sleep 1
fi
exec "/usr/bin/$(basename "$0")" "$@"
EOF
chmod +x "$repo/scripts/"*.sh "$repo/build/meter-sim" "$repo/build/Varnik350" "$sandbox/bin/cmake" "$sandbox/slow-tool"

original=$'[Settings]\nMainLeft=7\nBaudRate=2400\n'

# One run. $1 case name, $2 FAKE_MODE, $3 how it ends: "" (by itself), INT (to the whole process
# group, as Ctrl+C does), TERM (to the script alone); $4 "slow" to interrupt the copy back;
# $5 the settings file expected afterwards: "original", "saved" (the original, then what the
# program saved, without the simulator's mapping) or "<none>" (no file).
check() {
  local name=$1 mode=$2 signal=$3 slow=$4 expected=$5
  local home="$sandbox/home-$name"
  local conf="$home/config/Varnik350/Varnik350.conf"
  mkdir -p "$home/config/Varnik350" "$home/tmp"
  [ "$expected" = "<none>" ] || printf '%s' "$original" >"$conf"
  rm -f "$sandbox/running" "$sandbox/ended" "$sandbox/sim.pid"
  local path="$sandbox/bin:$PATH"
  if [ "$slow" = slow ]; then
    mkdir -p "$sandbox/slow-bin"
    for tool in awk grep mv mktemp cp; do ln -sf "$sandbox/slow-tool" "$sandbox/slow-bin/$tool"; done
    path="$sandbox/slow-bin:$path"
  fi
  # In a group of its own, with SIGINT as a terminal's shell leaves it (a script's background
  # job would start with it ignored).
  setsid env --default-signal=INT,QUIT PATH="$path" HOME="$home" XDG_CONFIG_HOME="$home/config" TMPDIR="$home/tmp" \
    SANDBOX="$sandbox" FAKE_MODE="$mode" QT_QPA_PLATFORM=offscreen \
    "$repo/scripts/run.sh" >"$sandbox/out-$name" 2>&1 &
  local pid=$!
  if [ -n "$signal" ]; then
    for _ in $(seq 100); do [ -e "$sandbox/running" ] && break; sleep 0.05; done
    [ -e "$sandbox/running" ] || echo "did not reach the moment of the interrupt" >>"$sandbox/out-$name"
    if [ "$signal" = INT ]; then kill -INT -- "-$pid"; else kill -TERM "$pid"; fi
  fi
  local status=0 problems=()
  # A run that does not end within 10 s has ignored the interrupt.
  for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$pid" 2>/dev/null; then
    problems+=("run.sh still running")
    kill -KILL -- "-$pid" 2>/dev/null || true
  fi
  wait "$pid" || status=$?
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
  if [ -s "$sandbox/sim.pid" ] && kill -0 "$(cat "$sandbox/sim.pid")" 2>/dev/null; then
    problems+=("meter-sim still running")
    kill "$(cat "$sandbox/sim.pid")"
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    echo "PASS   : $name (exit $status)"
  else
    failures=$((failures + 1))
    echo "FAIL!  : $name (exit $status): ${problems[*]}"
    sed 's/^/         /' "$sandbox/out-$name"
  fi
}

check "ends by itself" save "" "" saved
check "crashes after saving" crash "" "" saved
check "Ctrl+C while the program runs" hang INT "" original
check "SIGTERM while the program runs" hang TERM "" original
check "Ctrl+C during the copy back" save INT slow original
check "SIGTERM during the copy back" save TERM slow original
check "Ctrl+C, no settings file before" hang INT "" "<none>"
echo "Totals: $failures failed"
[ "$failures" -eq 0 ]
