#!/usr/bin/env bash
# Drawing CPU benchmark: the updater's dialog redraws every task-list row on a 10 ms timer and
# composes each draw off-screen, so its CPU cost runs whether or not anything changes. Measures
# the updater process's own CPU time (user+kernel) over a window, first with an empty list and
# then with four rows (one downloading slowly, three waiting), and prints each as a share of
# one core and the ratio; the X server's and the Wine server's CPU over the same windows is
# shown beside it, since part of each draw is done there. Figures only: it never fails on them.
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

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
winpath() { local p="Z:${1//\//\\}"; echo "$p"; }
began=$(date +%s)

# The updater's ready-to-copy folder with its own lobby port; $1: folder, $2: port.
install_updater() {
  mkdir -p "$1"
  cp "$build"/bin/updater.exe "$build"/bin/CfgEngine.dll "$build"/bin/Unzip.dll "$build"/bin/Mavrin.exe "$1/"
  printf '[GameSet]\r\nUpdateSetPort=%s\r\n' "$2" > "$1/kvgame.kcf"
}

# A lobby that keeps the connection open well past the window; $1: folder, $2: port, rest: --request ...
start_lobby() {
  local dir="$1" port="$2"
  shift 2
  (cd "$dir" && exec "$build/wine-run.sh" "$build/bin/lobby-sim.exe" --port "$port" "$@" \
    --exit-on sent --linger-ms $(((warmup + measure + 60) * 1000)) --timeout $((warmup + measure + 120)) \
    > "$dir/lobby.log" 2>&1) &
  pids+=($!)
  for _ in $(seq 1 300); do grep -q 'listening on' "$dir/lobby.log" && return 0; sleep 0.1; done
  echo "bench: lobby-sim did not start"; cat "$dir/lobby.log"; exit 1
}

# CPU seconds (user+kernel, all threads) of a Linux process, 0 once it is gone. Wine gives
# another process's user and kernel times as zero, so GetProcessTimes can't be used here; a
# Wine program is an ordinary Linux process and /proc has its times.
cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); printf "%.2f", ($12 + $13) / hz }' "/proc/$1/stat" 2>/dev/null || echo 0
}
now() { date +%s.%N; }
share() { awk -v c="$1" -v w="$2" 'BEGIN { printf "%.2f", 100 * c / w }'; }

# The Wine server of this prefix works for the updater too (messages, timers): its working
# folder is named server-DEV-INODE after the prefix, under a temporary folder of Wine's.
wineserver_pid() {
  local dir pid
  dir="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
  for pid in /proc/[0-9]*; do
    case "$(cat "$pid/comm" 2>/dev/null)" in wineserver*) ;; *) continue ;; esac
    [ "$(basename "$(readlink "$pid/cwd" 2>/dev/null)")" = "$dir" ] && { echo "${pid#/proc/}"; return; }
  done
  echo 0
}

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
start_lobby "$work/idle" "$lobby_a"
echo "bench: run A, empty list: updater CPU over ${measure} s after ${warmup} s of start-up"
measure_updater "$work/idle"
idle=$updater_share idle_x=$xvfb_share idle_s=$server_share

# Run B: four rows. A slow server keeps the one download going for the whole window; the other
# three wait their turn, and every row is still redrawn on each tick.
http_port=$(free_port)
lobby_b=$(free_port)
mkdir -p "$work/server"
python3 "$root/scripts/make_demo_game.py" "$work/server" "http://127.0.0.1:$http_port" 40 >/dev/null
"$build/wine-run.sh" "$build/bin/update-server.exe" --root "$(winpath "$work/server")" --port "$http_port" \
  --rate-kib 200 --quiet > "$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 300); do grep -q "127.0.0.1:$http_port" "$work/server.log" && break; sleep 0.1; done
grep -q "127.0.0.1:$http_port" "$work/server.log" || { echo "bench: update-server did not start"; cat "$work/server.log"; exit 1; }
install_updater "$work/busy" "$lobby_b"
url="http://127.0.0.1:$http_port/demo/url.ini"
start_lobby "$work/busy" "$lobby_b" --request "41,Game A,$url,demo" --request "42,Game B,$url,demo" \
  --request "43,Game C,$url,demo" --request "44,Game D,$url,demo"
echo "bench: run B, four rows (one downloading at 200 KiB/s, three waiting)"
measure_updater "$work/busy"
busy=$updater_share busy_x=$xvfb_share busy_s=$server_share
received=$(ls -l "$work/busy/DemoGame" 2>/dev/null | awk '$5 > 0 { s += $5 } END { print s + 0 }')

echo
echo "bench: updater CPU as a share of one core ($(nproc) cores on this machine)"
printf '                     updater   (X server  Wine server)\n'
printf '  empty list         %6s %%  (%6s %%  %6s %%)\n' "$idle" "$idle_x" "$idle_s"
printf '  four rows          %6s %%  (%6s %%  %6s %%)  package bytes received: %s\n' "$busy" "$busy_x" "$busy_s" "$received"
awk -v a="$idle" -v b="$busy" 'BEGIN {
  if (a + 0 > 0) printf "  ratio four rows / empty list  %.2f\n", b / a; else print "  ratio four rows / empty list  n/a"
  printf "  four rows under 10 %% of one core: %s\n", (b + 0 < 10 ? "yes" : "no")
}'
echo "  run time $(( $(date +%s) - began )) s"
