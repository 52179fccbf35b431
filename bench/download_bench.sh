#!/usr/bin/env bash
# Download benchmark: the updater's resumable and plain downloads of one large file from nginx
# on loopback, against curl fetching the same file from the same server in the same run. Prints
# the median throughput of RUNS runs (default 3) of each with the spread, the ratios of the
# medians, and the downloads' peak memory for two file sizes (memory must not grow with the
# file). Figures only: it never fails on them.
#   bench/download_bench.sh [MiB]   (default 512)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
size_mib="${1:-512}"
runs="${RUNS:-3}"
source "$root/bench/bench_lib.sh"
bench_begin download-bench download_bench

# The same bytes under two names: the resumable download is the one for packages (.zip).
mkdir -p "$work/root" "$work/out"
head -c "$((size_mib * 1048576))" /dev/urandom > "$work/root/big.zip"
head -c "$((64 * 1048576))" /dev/urandom > "$work/root/small.zip"
ln "$work/root/big.zip" "$work/root/big.dat"
ln "$work/root/small.zip" "$work/root/small.dat"
start_nginx "$work/root"
base="http://127.0.0.1:$nginx_port"

# Each run starts with no output of the runs before (a side that found them still held had to
# fill memory this machine had given back: the first run's plain download came out at a third
# of its speed in three sets of four) and with nothing left to write back: the test files made
# just before (and each earlier download) would otherwise be flushed during whichever run
# comes next.
clear_out() { rm -f "$work/out/"*; sync; }
curl_mibs() {  # $1: file name on the server
  clear_out
  curl -s -f -o "$work/out/curl.bin" -w '%{speed_download}' "$base/$1" | awk '{ printf "%.1f", $1 / 1048576 }'
}
# The updater's download of mode $1 of the file $2; a file unlike the server's is noted for the end.
updater_line() {
  local status=0
  clear_out
  (cd "$work/out" && "$build/wine-run.sh" "$build/bench-bin/download_bench.exe" "$1" "$base/$2" "$2") || status=$?
  cmp -s "$work/root/$2" "$work/out/$2" || touch "$work/$1-differs"
  return "$status"
}
field() { sed -n "s/.*= \([0-9.]*\) MiB\/s, peak memory \([0-9.]*\) MiB/\\$1/p"; }

echo "bench: ${size_mib} MiB from nginx on loopback; $runs runs"
# Warm-up, not counted: nginx serves from the page cache, Wine has started once.
curl_mibs big.zip > /dev/null
small_resumable=$(updater_line resumable small.zip)
small_plain=$(updater_line plain small.dat)
rm -f "$work/"*-differs  # a warm-up's file is not one of the figures

curls=() resumables=() plains=() r_mems=() p_mems=()
for i in $(seq 1 "$runs"); do
  # A different side first in each run, so none always finds the quietest disk.
  case $((i % 3)) in
    1) c=$(curl_mibs big.zip); r=$(updater_line resumable big.zip); p=$(updater_line plain big.dat) ;;
    2) r=$(updater_line resumable big.zip); p=$(updater_line plain big.dat); c=$(curl_mibs big.zip) ;;
    0) p=$(updater_line plain big.dat); c=$(curl_mibs big.zip); r=$(updater_line resumable big.zip) ;;
  esac
  curls+=("$c") resumables+=("$(echo "$r" | field 1)") plains+=("$(echo "$p" | field 1)")
  r_mems+=("$(echo "$r" | field 2)") p_mems+=("$(echo "$p" | field 2)")
  printf '  run %d: curl %s MiB/s, resumable %s MiB/s, plain %s MiB/s\n' "$i" "$c" "${resumables[-1]}" "${plains[-1]}"
done

r_ok=identical p_ok=identical
[ -e "$work/resumable-differs" ] && r_ok=DIFFERENT
[ -e "$work/plain-differs" ] && p_ok=DIFFERENT
curl_m=$(median "${curls[@]}") r_m=$(median "${resumables[@]}") p_m=$(median "${plains[@]}")
printf '  curl                 %8s MiB/s  (runs %s)\n' "$curl_m" "$(spread "${curls[@]}")"
printf '  resumable download   %8s MiB/s  (runs %s)  ratio to curl %s (goal: 0.9 or more)  file %s\n' \
  "$r_m" "$(spread "${resumables[@]}")" "$(ratio "$r_m" "$curl_m")" "$r_ok"
printf '  plain download       %8s MiB/s  (runs %s)  ratio to curl %s (goal: 0.9 or more)  file %s\n' \
  "$p_m" "$(spread "${plains[@]}")" "$(ratio "$p_m" "$curl_m")" "$p_ok"
printf '  peak memory          resumable %s MiB (64 MiB file: %s MiB), plain %s MiB (64 MiB file: %s MiB)\n' \
  "$(median "${r_mems[@]}")" "$(echo "$small_resumable" | field 2)" "$(median "${p_mems[@]}")" \
  "$(echo "$small_plain" | field 2)"
