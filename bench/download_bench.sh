#!/usr/bin/env bash
# Download benchmark: the updater's resumable and plain downloads of one large file from
# update-server on loopback, against curl fetching the same file from the same server in the
# same run. Prints each throughput, the ratios, and the downloads' peak memory for two file
# sizes (memory must not grow with the file). Figures only: it never fails on them.
#   bench/download_bench.sh [MiB]   (default 512)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
size_mib="${1:-512}"
"$root/scripts/install-deps.sh"
command -v curl >/dev/null || { echo "bench: curl is needed (apt-get install curl)"; exit 1; }
BUILD_DIR="$build" "$root/scripts/build.sh" >/dev/null
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One display and one Wine server for the whole run: the server and the downloads share them.
source "$root/scripts/virtual_display.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/download-bench.XXXXXX")
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  stop_virtual_display "$WINEPREFIX"
  rm -rf "$work"
}
trap cleanup EXIT
start_virtual_display "$WINEPREFIX"

mkdir -p "$work/root" "$work/out"
head -c "$((size_mib * 1048576))" /dev/urandom > "$work/root/big.zip"
head -c "$((64 * 1048576))" /dev/urandom > "$work/root/small.zip"
cp "$work/root/big.zip" "$work/root/big.dat"
cp "$work/root/small.zip" "$work/root/small.dat"

"$build/wine-run.sh" "$build/bin/update-server.exe" --root "Z:${work//\//\\}\\root" --port 0 --quiet \
  > "$work/server.log" 2>&1 &
server=$!
port=""
for _ in $(seq 1 300); do
  port=$(sed -n 's|.*http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$work/server.log" | head -n1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "bench: update-server did not start"; cat "$work/server.log"; exit 1; }
base="http://127.0.0.1:$port"

# Each run starts with nothing left to write back: the gigabyte of test files made just before
# (and each earlier download) would otherwise be flushed during whichever run comes next.
curl_mibs() {  # $1: file name on the server
  rm -f "$work/out/curl.bin"
  sync
  curl -s -o "$work/out/curl.bin" -w '%{speed_download}' "$base/$1" | awk '{ printf "%.1f", $1 / 1048576 }'
}
updater_line() {  # $1: mode, $2: file name
  rm -f "$work/out/$2"
  sync
  (cd "$work/out" && "$build/wine-run.sh" "$build/bench-bin/download_bench.exe" "$1" "$base/$2" "$2")
}
field() { sed -n "s/.*= \([0-9.]*\) MiB\/s, peak memory \([0-9.]*\) MiB/\\$1/p"; }

echo "bench: ${size_mib} MiB from update-server on loopback"
curl_warm=$(curl_mibs big.zip)
curl_speed=$(curl_mibs big.zip)
resumable=$(updater_line resumable big.zip)
plain=$(updater_line plain big.dat)
small_resumable=$(updater_line resumable small.zip)
small_plain=$(updater_line plain small.dat)

r_speed=$(echo "$resumable" | field 1); r_mem=$(echo "$resumable" | field 2)
p_speed=$(echo "$plain" | field 1); p_mem=$(echo "$plain" | field 2)
sr_mem=$(echo "$small_resumable" | field 2); sp_mem=$(echo "$small_plain" | field 2)
cmp -s "$work/root/big.zip" "$work/out/big.zip" && r_ok=identical || r_ok=DIFFERENT
cmp -s "$work/root/big.dat" "$work/out/big.dat" && p_ok=identical || p_ok=DIFFERENT

printf '  curl                 %8s MiB/s (warm-up run %s MiB/s)\n' "$curl_speed" "$curl_warm"
printf '  resumable download   %8s MiB/s  ratio to curl %s  file %s\n' "$r_speed" \
  "$(awk -v a="$r_speed" -v b="$curl_speed" 'BEGIN { printf "%.2f", a / b }')" "$r_ok"
printf '  plain download       %8s MiB/s  ratio to curl %s  file %s\n' "$p_speed" \
  "$(awk -v a="$p_speed" -v b="$curl_speed" 'BEGIN { printf "%.2f", a / b }')" "$p_ok"
printf '  peak memory          resumable %s MiB (64 MiB file: %s MiB), plain %s MiB (64 MiB file: %s MiB)\n' \
  "$r_mem" "$sr_mem" "$p_mem" "$sp_mem"
