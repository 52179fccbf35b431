# Sourced by the scripts: when no display is set, starts one Xvfb for the whole run, so every
# Wine process (and Wine's own desktop process, which outlives them) shares one X server.
# Defines stop_virtual_display, which ends it and the project's Wine server.
start_virtual_display() {
  virtual_display_pid=""
  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    virtual_display_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
  fi
  # A Wine server left from an earlier run may hold a desktop on a display that is gone.
  WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
}

stop_virtual_display() {
  WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
  if [ -n "${virtual_display_pid:-}" ]; then
    kill "$virtual_display_pid" 2>/dev/null || true
    wait "$virtual_display_pid" 2>/dev/null || true
  fi
}
