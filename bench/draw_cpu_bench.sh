#!/usr/bin/env bash
# Drawing CPU benchmark: the updater's dialog looks at its task-list rows on a 10 ms timer and
# repaints what changed, composing each row off-screen. Measures the updater process's own CPU
# time (user+kernel) over a window, first with an empty list and then with four rows (one
# downloading slowly, three waiting), and prints each as a share of one core and the ratio;
# the X server's and the Wine server's CPU over the same windows is added to it, since part of
# each draw and of each message is done there. Figures only: it never fails on them.
#   bench/draw_cpu_bench.sh [MEASURE_S]   (default 30, after 5 s of start-up)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
measure="${1:-30}"
warmup=5
"$root/scripts/install-deps.sh"
BUILD_DIR="$build" "$root/scripts/build.sh" >/dev/null
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One display and one Wine server for the whole run: the server, the lobby and the updater share them.
source "$root/scripts/virtual_display.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/draw-cpu-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait "${pids[@]}" 2>/dev/null || true
  stop_virtual_display "$WINEPREFIX"
  rm -rf "$work"
}
trap cleanup EXIT
start_virtual_display "$WINEPREFIX"
"$build/wine-run.sh" wineboot -i >/dev/null 2>&1 || true

source "$root/bench/bench_lib.sh"
began=$(date +%s)

# Starts the updater in $1, lets it settle, samples its CPU time every 5 s over the window,
# ends it, and sets $updater_share, $xvfb_share, $server_share (percent of one core).
measure_updater() {
  local dir="$1" pid server t0 t1 t c0 c1 c x0 s0 elapsed
  (cd "$dir" && exec "$build/wine-run.sh" ./updater.exe) &
  pid=$!
  pids+=($pid)
  sleep "$warmup"
  kill -0 "$pid" 2>/dev/null || { echo "bench: the updater ended during start-up" >&2; exit 1; }
  server=$(wineserver_pid)
  t0=$(now); c0=$(cpu_seconds "$pid")
  x0=$(cpu_seconds "${virtual_display_pid:-0}"); s0=$(cpu_seconds "$server")
  t1=$t0; c1=$c0
  elapsed=0
  while [ "$elapsed" -lt "$measure" ]; do
    sleep 5
    elapsed=$((elapsed + 5))
    kill -0 "$pid" 2>/dev/null || { echo "bench: the updater ended during the window" >&2; exit 1; }
    t=$(now); c=$(cpu_seconds "$pid")
    printf '    %3d s  %6s %% of one core\n' "$elapsed" "$(share "$(awk -v a="$c" -v b="$c1" 'BEGIN { print a - b }')" \
      "$(awk -v a="$t" -v b="$t1" 'BEGIN { print a - b }')")"
    t1=$t; c1=$c
  done
  local wall
  wall=$(awk -v a="$t1" -v b="$t0" 'BEGIN { print a - b }')
  updater_share=$(share "$(awk -v a="$c1" -v b="$c0" 'BEGIN { print a - b }')" "$wall")
  xvfb_share=$(share "$(awk -v a="$(cpu_seconds "${virtual_display_pid:-0}")" -v b="$x0" 'BEGIN { print a - b }')" "$wall")
  server_share=$(share "$(awk -v a="$(cpu_seconds "$server")" -v b="$s0" 'BEGIN { print a - b }')" "$wall")
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# Run A: the dialog with an empty list; the lobby connects but asks for nothing.
lobby_a=$(free_port)
install_updater "$work/idle" "$lobby_a"
start_lobby "$work/idle" "$lobby_a" $((warmup + measure + 60))
echo "bench: run A, empty list: updater CPU over ${measure} s after ${warmup} s of start-up"
measure_updater "$work/idle"
idle=$updater_share idle_x=$xvfb_share idle_s=$server_share

# Run B: four rows. A slow server keeps the one download going for the whole window; the other
# three wait their turn, and every row is still redrawn on each tick.
serve_demo_game 40
lobby_b=$(free_port)
install_updater "$work/busy" "$lobby_b"
url="http://127.0.0.1:$http_port/demo/url.ini"
start_lobby "$work/busy" "$lobby_b" $((warmup + measure + 60)) --request "41,Game A,$url,demo" --request "42,Game B,$url,demo" \
  --request "43,Game C,$url,demo" --request "44,Game D,$url,demo"
echo "bench: run B, four rows (one downloading at 200 KiB/s, three waiting)"
measure_updater "$work/busy"
busy=$updater_share busy_x=$xvfb_share busy_s=$server_share
received=$(ls -l "$work/busy/DemoGame" 2>/dev/null | awk '$5 > 0 { s += $5 } END { print s + 0 }')

echo
echo "bench: CPU as a share of one core ($(nproc) cores on this machine); the total adds the X"
echo "server's and the Wine server's share, which draw and carry the updater's messages"
printf '                     updater   X server  Wine server    total\n'
line() { printf '  %-18s %6s %%  %6s %%  %6s %%   %6s %%\n' "$1" "$2" "$3" "$4" \
  "$(awk -v a="$2" -v b="$3" -v c="$4" 'BEGIN { printf "%.2f", a + b + c }')"; }
line "empty list" "$idle" "$idle_x" "$idle_s"
line "four rows" "$busy" "$busy_x" "$busy_s"
echo "  package bytes received in the four-row run: $received"
awk -v a="$idle" -v b="$busy" -v t="$(awk -v a="$busy" -v b="$busy_x" -v c="$busy_s" 'BEGIN { print a + b + c }')" 'BEGIN {
  if (a + 0 > 0) printf "  ratio four rows / empty list  %.2f\n", b / a; else print "  ratio four rows / empty list  n/a"
  printf "  goals: empty list under 1 %%: %s; four rows under 3 %%: %s; four rows with both servers under 6 %%: %s\n",
    (a + 0 < 1 ? "yes" : "no"), (b + 0 < 3 ? "yes" : "no"), (t + 0 < 6 ? "yes" : "no")
}'
echo "  run time $(( $(date +%s) - began )) s"
