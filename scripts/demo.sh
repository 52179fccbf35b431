#!/usr/bin/env bash
# The product's main job, as far as it is built: the lobby simulator sends a request for a
# game and the updater, connected over the loopback link, receives it. Prints what each side
# does and ends with one line saying whether the request crossed the link.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
BUILD_DIR="$build" "$root/scripts/build.sh" >/dev/null

export WINEPREFIX="$build/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
source "$root/scripts/virtual_display.sh"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait "${pids[@]}" 2>/dev/null || true
  stop_virtual_display "$WINEPREFIX"
}
trap cleanup EXIT
start_virtual_display "$WINEPREFIX"
WINEDEBUG=-all "$build/wine-run.sh" wineboot -i >/dev/null 2>&1 || true

# The ready-to-copy folder, installed beside the lobby's configuration file.
demo="$build/demo"
rm -rf "$demo" && mkdir -p "$demo"
cp "$build"/bin/* "$demo"/
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[GameSet]\r\nUpdateSetPort=%s\r\n' "$port" > "$demo/kvgame.kcf"
echo "demo: installed the updater in $demo; the lobby listens on 127.0.0.1:$port"

cd "$demo"
WINEDEBUG=-all "$build/wine-run.sh" ./lobby-sim.exe --request "42,示例游戏,http://127.0.0.1:8080/demo/update.ini,demo" \
  --exit-on sent --linger-ms 4000 --timeout 90 2>&1 | sed -u 's/^/  /' &
pids+=($!)
sleep 1

trace="$demo/updater-trace.txt"
: > "$trace"
# The updater's trace lines reach Wine's debug log; the filter turns them back into text.
WINEDEBUG=-all,+debugstr "$build/wine-run.sh" ./updater.exe 2> >(python3 "$root/scripts/wine_trace.py" "  updater: " | tee "$trace") &
updater=$!
pids+=($updater)

received=""
for _ in $(seq 1 600); do
  received=$(grep -m1 'request received' "$trace" 2>/dev/null || true)
  [ -n "$received" ] && break
  sleep 0.1
done
sleep 1
kill "$updater" 2>/dev/null || true

if [ -n "$received" ]; then
  echo "demo: OK - the lobby's request for game 42 crossed the link and reached the updater"
  exit 0
fi
echo "demo: FAILED - the updater did not receive the lobby's request (trace in $trace)"
exit 1
