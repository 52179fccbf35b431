#!/usr/bin/env bash
# Intake benchmark: the lobby writes 200 distinct requests in one send, and the updater must
# list them all. Times, from the lobby's write, when each row was queued (the updater's own
# trace line for it) and prints when the last one came, against the goal of 2 s; the cost per
# request of the first twenty rows is the reference for the last twenty (a ratio near 1 means
# the cost does not grow with the rows already listed). Figures only: it never fails on them.
#   bench/burst_intake_bench.sh [REQUESTS] [WAIT_S]   (default 200 requests, waiting up to 30 s)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
requests="${1:-200}"
wait_s="${2:-30}"
"$root/scripts/install-deps.sh"
BUILD_DIR="$build" "$root/scripts/build.sh" >/dev/null
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
source "$root/scripts/virtual_display.sh"
source "$root/bench/bench_lib.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/burst-intake-bench.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait "${pids[@]}" 2>/dev/null || true
  stop_virtual_display "$WINEPREFIX"
  [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
start_virtual_display "$WINEPREFIX"
"$build/wine-run.sh" wineboot -i >/dev/null 2>&1 || true

# The first task downloads slowly for the whole run; every other one waits its turn.
serve_demo_game 40
url="http://127.0.0.1:$http_port/demo/url.ini"
lobby=$(free_port)
install_updater "$work/app" "$lobby"
args=()
for i in $(seq 1 "$requests"); do args+=(--request "$((1000 + i)),Game $i,$url,demo"); done
# Written in one send once the updater had time to open and connect.
delay_ms=4000
start_lobby "$work/app" "$lobby" $((wait_s + 30)) --coalesce --delay-ms "$delay_ms" "${args[@]}"
(cd "$work/app" && WINEDEBUG=-all,+debugstr "$build/wine-run.sh" ./updater.exe 2>&1 | stamp_lines \
  | grep --line-buffered 'request queued' > "$work/queued.log") &
pids+=($!)

connected_line() { grep -m1 'updater connected' "$work/app/lobby.log" || true; }
sent_line() { grep -m1 "sent request for game $((1000 + requests)) " "$work/app/lobby.log" || true; }
for _ in $(seq 1 300); do [ -n "$(sent_line)" ] && break; sleep 0.1; done
[ -n "$(sent_line)" ] || { echo "bench: the lobby never sent the requests"; cat "$work/app/lobby.log"; exit 1; }
sent=$(awk -v d="$delay_ms" '{ printf "%.3f", $1 + d / 1000 }' <<< "$(connected_line)")
for _ in $(seq 1 $((wait_s * 10))); do
  [ "$(wc -l < "$work/queued.log")" -ge "$requests" ] && break
  sleep 0.1
done

echo "bench: $requests requests written in one send by the lobby"
awk -v sent="$sent" -v n="$requests" '
  { t[NR] = $1 - sent }
  END {
    for (s = 1; s <= 4; s *= 2) { c = 0; for (i = 1; i <= NR; i++) if (t[i] <= s) c++; printf "  rows queued within %d s of the write: %d\n", s, c }
    if (NR < n) { printf "  only %d of %d rows queued; the last at %.2f s\n", NR, n, (NR ? t[NR] : 0); exit }
    printf "  all %d rows queued %.2f s after the write (goal: within 2 s): %s\n", n, t[n], (t[n] < 2 ? "yes" : "no")
    # The last row of the burst also pays for the one redraw of the list at its end.
    k = int(n / 10); if (k < 3) exit
    first = (t[k + 1] - t[1]) / k; last = (t[n - 1] - t[n - k - 1]) / k
    printf "  per row: first %d rows %.2f ms, last %d before the end %.2f ms, ratio last / first %.2f\n",
      k, 1000 * first, k, 1000 * last, (first > 0 ? last / first : 0)
    printf "  the last row, with the redraw of the list: %.1f ms\n", 1000 * (t[n] - t[n - 1])
  }' "$work/queued.log"
