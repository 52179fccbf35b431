#!/usr/bin/env bash
# Install benchmark: a game of about 1 GiB (thousands of small files, some large ones, text that
# compresses and data that does not), zipped by Info-ZIP and given its manifest by the
# publisher's tool, served by nginx on loopback. The updater installs it, timed from the lobby's
# request to its task-ended record; the reference is `curl -o`, `sha256sum` and `unzip -oq` one
# after another, in the same run. Prints both times, their ratio, the ratio to curl alone and
# the peak extra disk (the most either side's folder held beyond the installed game, polled
# with du). Median of RUNS runs (default 3) with the spread. Figures only: it fails only if an
# install fails or the installed trees differ.
#   bench/install_bench.sh [game MiB]   (default 1024; the game and its zip are kept in
#                                        build/install-bench/ for the next run)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
size_mib="${1:-1024}"
runs="${RUNS:-3}"
source "$root/bench/bench_lib.sh"
bench_begin install-bench updater CfgEngine Unzip Mavrin lobby-sim

# The game, made once per size (the same bytes every time) and kept with its zip.
bench_game "$size_mib"
zip_size=$(stat -c %s "$cache/www/game.zip")
game_bytes=$(du -sb "$cache/game" | cut -f1)
files=$(find "$cache/game" -type f | wc -l)
mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

# Served as a list that creates the game's folder and installs the zip in one entry; the
# publisher's tool (without a key) writes the manifest and manifest=.
start_nginx "$cache/www"
base="http://127.0.0.1:$nginx_port"
printf '[config]\r\ngame=%s/list.ini\r\n' "$base" > "$cache/www/url.ini"
printf '[list0]\r\naction=1\r\ncmd=CRE\r\ndestfile=Game\r\n[list1]\r\naction=3\r\nsrcfile=%s/game.zip\r\ndestfile=Game\\game.zip\r\ncmd=DEC\r\n[list2]\r\naction=0\r\n' \
  "$base" > "$cache/www/list.ini"
"$root/scripts/sign-update.sh" "$cache/www" > /dev/null
grep -q '^manifest=' "$cache/www/list.ini" || { echo "bench: the zip got no manifest"; exit 1; }
entries=$(grep -c '^entry ' "$cache/www/game.zip.manifest")
largest=$(awk '$1 == "entry" && $10 > m { m = $10 } END { print m + 0 }' "$cache/www/game.zip.manifest")

# Polls the apparent size of folder $1 every 0.2 s into $1.du until $1.stop appears.
watch_disk() {
  (while [ ! -e "$1.stop" ]; do du -sb "$1" 2>/dev/null | cut -f1 >> "$1.du"; sleep 0.2; done) &
  watcher=$!
}
stop_watching() {
  touch "$1.stop"
  wait "$watcher" 2>/dev/null || true
  du -sb "$1" | cut -f1 >> "$1.du"
}
# The most the folder held beyond $2 bytes (what it holds when the install is done), in MiB.
peak_extra() {
  sort -n "$1.du" | tail -n1 | awk -v g="$2" '{ e = $1 - g; printf "%.1f", (e > 0 ? e : 0) / 1048576 }'
}
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# The reference: the three commands one after another into a fresh folder.
reference_run() {
  local dir="$work/ref" t0 t1 t2 t3
  rm -rf "$dir" "$dir".* && mkdir -p "$dir/Game"
  sync
  watch_disk "$dir"
  t0=$(now)
  curl -s -f -o "$dir/Game/game.zip" "$base/game.zip"
  t1=$(now)
  sha256sum "$dir/Game/game.zip" > /dev/null
  t2=$(now)
  unzip -oq "$dir/Game/game.zip" -d "$dir/Game"
  t3=$(now)
  stop_watching "$dir"
  ref_extra=$(peak_extra "$dir" "$game_bytes")
  ref_curl=$(seconds "$t0" "$t1")
  ref_total=$(seconds "$t0" "$t3")
  rm -f "$dir/Game/game.zip"
}

# The updater: a fresh ready-to-copy folder, a lobby that asks for the game and waits for the
# task-ended record; both ends stamped with the same monotonic clock.
updater_run() {
  local dir="$work/app" port base_bytes
  rm -rf "$dir" "$dir".*
  port=$(free_port)
  install_updater "$dir" "$port"
  base_bytes=$(du -sb "$dir" | cut -f1)
  sync
  # Watched from before the lobby starts: the folder holds only the program until the task runs.
  watch_disk "$dir"
  run_game_task "$dir" "$port" "$base/url.ini"
  stop_watching "$dir"
  app_extra=$(peak_extra "$dir" "$((base_bytes + game_bytes))")
  app_total=$(seconds "$task_sent" "$task_ended")
  [ -e "$dir/Game/game.zip" ] && { echo "bench: the archive was left in the game's folder"; exit 1; }
  diff -r "$cache/game" "$dir/Game" > /dev/null || { echo "bench: the updater's install differs from the game"; exit 1; }
}

echo "bench: a $(mib "$game_bytes") MiB game, $files files ($entries zip entries, the largest $(mib "$largest") MiB)," \
  "a $(mib "$zip_size") MiB zip, served by nginx on loopback; $runs runs"
curl -s -o /dev/null "$base/game.zip"  # nginx serves both sides from the page cache
ref_totals=() ref_curls=() ref_extras=() app_totals=() app_extras=()
for i in $(seq 1 "$runs"); do
  # Alternate which side goes first, so neither always finds a quieter disk.
  if [ $((i % 2)) -eq 1 ]; then reference_run; updater_run; else updater_run; reference_run; fi
  ref_totals+=("$ref_total") ref_curls+=("$ref_curl") ref_extras+=("$ref_extra")
  app_totals+=("$app_total") app_extras+=("$app_extra")
  printf '  run %d: curl + sha256sum + unzip %7s s (curl %s s), updater %7s s\n' "$i" "$ref_total" "$ref_curl" "$app_total"
done

ref_m=$(median "${ref_totals[@]}") curl_m=$(median "${ref_curls[@]}") app_m=$(median "${app_totals[@]}")
printf '  curl -o + sha256sum + unzip -oq %7s s  (runs %s s; curl alone %s s, runs %s s)\n' \
  "$ref_m" "$(spread "${ref_totals[@]}")" "$curl_m" "$(spread "${ref_curls[@]}")"
printf '  updater, request to task end   %7s s  (runs %s s)\n' "$app_m" "$(spread "${app_totals[@]}")"
printf '  ratio updater / three commands %s (goal: 0.55 or less)\n' "$(ratio "$app_m" "$ref_m")"
printf '  ratio updater / curl alone     %s (goal: 1.15 or less)\n' "$(ratio "$app_m" "$curl_m")"
printf '  peak extra disk: updater %s MiB (goal: the largest entry + 64 = %s MiB or less), three commands %s MiB (runs: %s; %s)\n' \
  "$(median "${app_extras[@]}")" "$(awk -v l="$largest" 'BEGIN { printf "%.1f", l / 1048576 + 64 }')" \
  "$(median "${ref_extras[@]}")" "${app_extras[*]}" "${ref_extras[*]}"
echo "  (a fresh install: extra disk is what the folder held beyond the installed game at its fullest)"
