# Sourced by the scripts that run the real program against meter-sim on a private Xvfb
# (bench/live/run.sh, scripts/screenshots.sh); needs bench/xvfb.sh sourced first.
#
# sandbox_start BUILD WORK: a temporary installation in WORK/app (the build's Varnik350 and a copy of
# its data folder, with no data files), meter-sim streaming 16 channels on WORK/meter (sim_pid), and a
# settings file under WORK/config mapping the configured port to it, so no user file is read or
# written. Edit WORK/app/data before sandbox_run.
# sandbox_run: starts Xvfb and the program (program_pid), waits for the main window (main_window).
# open_display KEYS TITLE: opens a Monitor menu item with the keys after Alt+M (the menu opens on
# its first item, "Chart Display") and prints the new window's id once a window TITLE shows.
# sandbox_stop: ends the program, meter-sim and Xvfb (set as the EXIT trap by sandbox_start).
sandbox_start() {
  local build=$1
  work=$2
  sim_pid=""
  program_pid=""
  trap sandbox_stop EXIT INT TERM
  mkdir -p "$work/app" "$work/config/Varnik350" "$work/runtime"
  chmod 700 "$work/runtime"
  cp "$build/Varnik350" "$work/app/"
  cp -r "$build/data" "$work/app/"
  rm -f "$work"/app/data/*.mdb "$work"/app/data/*.mdb-*
  "$build/meter-sim" --link "$work/meter" --channels 16 >"$work/sim.out" 2>"$work/sim.log" &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$work/meter" ] && break; sleep 0.1; done
  [ -e "$work/meter" ] || { echo "meter-sim did not start:"; cat "$work/sim.log"; return 1; }
  local port
  port=$(tr -d '\r' <"$work/app/data/default.txt" | sed -n 's/^"Comm. Port ",\([0-9]*\).*/\1/p')
  printf '[Ports]\nCOM%s=%s\n' "${port:-1}" "$work/meter" >"$work/config/Varnik350/Varnik350.conf"
}

sandbox_run() {
  start_xvfb "$work"
  export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" VARNIK_SPLASH_MS=0
  "${wrap[@]}" "$work/app/Varnik350" >"$work/program.log" 2>&1 &
  program_pid=$!
  main_window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Varnik Measurement system$' | head -n1) ||
    { echo "the main window did not appear"; cat "$work/program.log"; return 1; }
}

open_display() {
  local keys=$1 title=$2 id=""
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$main_window"
    xdotool key alt+m
    sleep 0.5
    # shellcheck disable=SC2086
    [ -z "$keys" ] || xdotool key $keys
    xdotool key Return
    if id=$(timeout 20 xdotool search --sync --onlyvisible --name "$title" | head -n1); then
      echo "$id"
      return 0
    fi
    xdotool key Escape Escape
  done
  echo "Monitor menu: $title did not open" >&2
  cat "$work/program.log" >&2
  return 1
}

sandbox_stop() {
  for pid in ${program_pid:-} ${sim_pid:-}; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  stop_xvfb
  [ -z "${work:-}" ] || rm -rf "$work"
}
