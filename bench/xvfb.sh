# Sourced by the benchmark scripts that need a screen: start_xvfb DIR starts a private Xvfb
# (screen XVFB_SCREEN, default 1280x1024x24; no TCP) on a free display, exports DISPLAY and sets xvfb_pid; stop_xvfb ends it.
# A program started from the script then talks to that X server only (QT_QPA_PLATFORM is unset).
start_xvfb() {
  local dir=$1
  Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x1024x24}" -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.05; done
  if [ ! -s "$dir/display" ]; then
    echo "Xvfb did not start:"
    cat "$dir/xvfb.log"
    return 1
  fi
  export DISPLAY=":$(head -n1 "$dir/display")"
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}

stop_xvfb() {
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}
