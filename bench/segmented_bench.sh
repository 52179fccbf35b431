#!/usr/bin/env bash
# Segmented download benchmark: one file served by nginx on loopback from two locations, one
# capped at 1 MiB/s per connection (`limit_rate 1m`, the way many mirrors cap) and one
# unlimited. The updater's resumable download (the bench program drives the updater's own
# download code) against curl, which uses one connection, on the same location in the same run.
# Median of RUNS runs (default 3) of each figure with the spread. Figures only: it never fails
# on them.
#   bench/segmented_bench.sh [MiB]   (default 256)
# Under the cap one connection needs a second per MiB, so each side is measured there over a
# window of WINDOW seconds (default 30; 0: the whole file): the bytes nginx sent for it, from
# its access log, over the time from the side's start until nginx saw its last connection end
# (a download that ends sooner counts as it is). The unlimited location is always fetched whole.
# When the download code takes its most connections from UPDATER_CONNECTIONS, each run adds a
# capped download with MAX_CONNECTIONS (default 8) at most. Each run also measures, capped, the
# package stream a manifest install reads (in order, into memory), on one connection and by
# default.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
size_mib="${1:-256}"
runs="${RUNS:-3}"
window="${WINDOW:-30}"
max_connections="${MAX_CONNECTIONS:-8}"
connections_variable=""
grep -rqs UPDATER_CONNECTIONS "$root/download" && connections_variable=UPDATER_CONNECTIONS
source "$root/bench/bench_lib.sh"
bench_begin segmented-bench download_bench

# One file under both locations (hard links: one copy in the page cache).
mkdir -p "$work/www/capped" "$work/www/open" "$work/out"
head -c "$((size_mib * 1048576))" /dev/urandom > "$work/www/open/big.zip"
ln "$work/www/open/big.zip" "$work/www/capped/big.zip"
start_nginx "$work/www" 'location /capped/ { limit_rate 1m; } location = /status { stub_status; }'
base="http://127.0.0.1:$nginx_port"
access="$work/nginx/access.log"

# nginx logs a request when its answer ends; a dropped connection is noticed at the next send.
# Waits until nginx writes no answer but the status page's own.
wait_for_nginx() {
  for _ in $(seq 1 100); do
    curl -s "$base/status" | grep -q 'Writing: 1 ' && return 0
    sleep 0.1
  done
}
# Body bytes nginx sent for the location $1 in log lines after line $2 over the time from the
# Unix time $3 to the last of those lines' end, in MiB/s; the number of those requests goes to
# the file $4 when given.
server_rate() {
  awk -v from="$2" -v loc="\"GET /$1/" -v start="$3" -v count="${4:-}" 'NR > from && index($0, loc) {
      n += $NF; c++; if ($1 > end) end = $1 }
    END { printf "%.2f", (end > start ? n / 1048576 / (end - start) : 0); if (count != "") print c + 0 > count }' "$access"
}
log_lines() { wc -l < "$access"; }
windowed() { [ "$1" = capped ] && [ "$window" != 0 ]; }

# curl on location $1; prints its MiB/s. Under a window, counted at the server as the updater is.
curl_rate() {
  local mark start speed
  rm -f "$work/out/curl.bin"
  sync
  if windowed "$1"; then
    mark=$(log_lines)
    start=$(date +%s.%N)
    curl -s -o "$work/out/curl.bin" --max-time "$window" "$base/$1/big.zip" || true
    wait_for_nginx
    server_rate "$1" "$mark" "$start"
  else
    speed=$(curl -s -f -o "$work/out/curl.bin" -w '%{speed_download}' "$base/$1/big.zip")
    awk -v s="$speed" 'BEGIN { printf "%.1f", s / 1048576 }'
  fi
}
# The updater's download of mode $1 (resumable, or stream: the package stream) from location $2,
# with the environment given after them; prints its MiB/s.
bench_rate() {
  local mode="$1" loc="$2" mark line start limit=() target=big.zip
  shift 2
  rm -f "$work/out/big.zip"
  sync
  windowed "$loc" && limit=("$window")
  [ "$mode" = stream ] && target=$((size_mib * 1048576))
  mark=$(log_lines)
  line=$(cd "$work/out" && env "$@" "$build/wine-run.sh" "$build/bench-bin/download_bench.exe" "$mode" \
    "$base/$loc/big.zip" "$target" "${limit[@]}" || true)
  start=$(echo "$line" | sed -n 's/.* stopped after .* started at \([0-9.]*\) s.*/\1/p')
  if [ -n "$start" ]; then
    wait_for_nginx
    server_rate "$loc" "$mark" "$start" "$work/requests"
  elif echo "$line" | grep -q ' MiB/s,'; then
    [ "$loc" = open ] && [ "$mode" = resumable ] && ! cmp -s "$work/www/open/big.zip" "$work/out/big.zip" && touch "$work/open-differs"
    echo "$line" | sed -n 's/.* = \([0-9.]*\) MiB\/s.*/\1/p'
  else
    echo "bench: the download failed: $line" >&2
    echo 0
  fi
}
updater_rate() { bench_rate resumable "$@"; }

window_text="the whole file"
[ "$window" != 0 ] && window_text="a $window s window"
echo "bench: ${size_mib} MiB from nginx on loopback, capped at 1 MiB/s per connection (measured over" \
  "$window_text) and unlimited; $runs runs"
# Warm-up, not counted: nginx serves from the page cache, Wine has started once.
curl -s -o /dev/null "$base/open/big.zip"
updater_rate open > /dev/null

capped_curls=() capped_updaters=() capped_most=() open_curls=() open_updaters=() capped_requests=()
stream_ones=() stream_defaults=()
for i in $(seq 1 "$runs"); do
  # Alternate which side goes first, so neither always finds a quieter machine.
  if [ $((i % 2)) -eq 1 ]; then cc=$(curl_rate capped); cu=$(updater_rate capped)
  else cu=$(updater_rate capped); cc=$(curl_rate capped); fi
  # The first full-speed download after half a minute under the cap ran up to 40 % slower,
  # whichever side it was: one that is not counted goes first.
  curl -s -o /dev/null "$base/open/big.zip"
  if [ $((i % 2)) -eq 1 ]; then oc=$(curl_rate open); ou=$(updater_rate open)
  else ou=$(updater_rate open); oc=$(curl_rate open); fi
  # The default's requests under the cap (a download that ended before the window has none).
  capped_requests+=("$(cat "$work/requests" 2>/dev/null || echo 0)")
  rm -f "$work/requests"
  capped_curls+=("$cc") capped_updaters+=("$cu") open_curls+=("$oc") open_updaters+=("$ou")
  most=""
  if [ -n "$connections_variable" ]; then
    most=$(updater_rate capped "$connections_variable=$max_connections")
    capped_most+=("$most")
    most=", at most $max_connections connections $most MiB/s"
  fi
  s1=$(bench_rate stream capped UPDATER_CONNECTIONS=1) sd=$(bench_rate stream capped)
  stream_ones+=("$s1") stream_defaults+=("$sd")
  printf '  run %d: capped: curl %s MiB/s, updater %s MiB/s%s; unlimited: curl %s MiB/s, updater %s MiB/s\n' \
    "$i" "$cc" "$cu" "$most" "$oc" "$ou"
  printf '         package stream, capped: one connection %s MiB/s, default %s MiB/s\n' "$s1" "$sd"
done

open_ok=identical
[ -e "$work/open-differs" ] && open_ok=DIFFERENT
cc_m=$(median "${capped_curls[@]}") cu_m=$(median "${capped_updaters[@]}")
oc_m=$(median "${open_curls[@]}") ou_m=$(median "${open_updaters[@]}")
echo "  capped at 1 MiB/s per connection:"
printf '    curl (one connection)     %8s MiB/s  (runs %s)\n' "$cc_m" "$(spread "${capped_curls[@]}")"
printf '    updater, default          %8s MiB/s  (runs %s)  ratio to curl %s (goal: 3.5 or more)\n' \
  "$cu_m" "$(spread "${capped_updaters[@]}")" "$(ratio "$cu_m" "$cc_m")"
# nginx lets each request send its first second's worth at once, so many short ranges get more
# than a connection's cap each: the request count tells how much of the gain came that way.
printf '      requests in the window: %s (runs %s)\n' "$(median "${capped_requests[@]}")" "$(spread "${capped_requests[@]}")"
if [ -n "$connections_variable" ]; then
  cm_m=$(median "${capped_most[@]}")
  printf '    updater, %s connections    %8s MiB/s  (runs %s)  ratio to curl %s (goal: 6 or more)\n' \
    "$max_connections" "$cm_m" "$(spread "${capped_most[@]}")" "$(ratio "$cm_m" "$cc_m")"
else
  echo "    (the download code has no setting for its most connections: the default only)"
fi
s1_m=$(median "${stream_ones[@]}") sd_m=$(median "${stream_defaults[@]}")
echo "  package stream, capped at 1 MiB/s per connection:"
printf '    one connection            %8s MiB/s  (runs %s)\n' "$s1_m" "$(spread "${stream_ones[@]}")"
printf '    default                   %8s MiB/s  (runs %s)  ratio to one connection %s\n' \
  "$sd_m" "$(spread "${stream_defaults[@]}")" "$(ratio "$sd_m" "$s1_m")"
echo "  unlimited:"
printf '    curl (one connection)     %8s MiB/s  (runs %s)\n' "$oc_m" "$(spread "${open_curls[@]}")"
printf '    updater, default          %8s MiB/s  (runs %s)  ratio to curl %s (goal: 0.95 or more)  file %s\n' \
  "$ou_m" "$(spread "${open_updaters[@]}")" "$(ratio "$ou_m" "$oc_m")" "$open_ok"
