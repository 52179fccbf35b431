#!/usr/bin/env bash
# Unpacking benchmark: Unzip.dll (through bench-bin/unzip_bench.exe under Wine) against Info-ZIP
# `unzip -q -o` on copies of the same archive, made here by Info-ZIP `zip` from mixed content
# (random, base64 and word text, many small files in folders). Each side runs RUNS times into
# an emptied folder and its best run counts; both results must be identical trees. Prints both
# times, both speeds (MiB of unpacked data per second) and the ratio. Figures only: it fails
# only if an unpack fails or the trees differ.
#   bench/unzip_bench.sh [archive MiB]   (default 200; RUNS=3 by default)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
size_mib="${1:-200}"
runs="${RUNS:-3}"
"$root/scripts/install-deps.sh"
# Only what this benchmark runs, so it works while other parts of the tree are being changed.
log=$(cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" 2>&1 &&
      cmake --build "$build" -j "$(nproc)" --target Unzip unzip_bench 2>&1) || { echo "$log"; exit 1; }
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

work=$(mktemp -d "${TMPDIR:-/tmp}/unzip-bench.XXXXXX")
# One display and one Wine server for the whole run.
source "$root/scripts/virtual_display.sh"
trap 'stop_virtual_display "$WINEPREFIX"; rm -rf "$work"' EXIT
start_virtual_display "$WINEPREFIX"

# Roughly: random data stays its size in the archive, base64 text shrinks to ~3/4, word text
# to ~1/4. Sized so the archive comes out near the requested size.
python3 - "$work/src" "$size_mib" <<'EOF'
import base64, os, random, sys
root, size = sys.argv[1], int(sys.argv[2])
mib = 1 << 20
rng = random.Random(7)
words = [b"update", b"lobby", b"game", b"room", b"patch", b"level", b"player", b"score", b"1024"]
# Repeats only every MiB, beyond deflate's 32 KiB window: compresses like real text.
block = b" ".join(rng.choice(words) for _ in range(150000))[:mib]
def text(n):
    return (block * (n // mib + 1))[:n]
def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
random_mib, base64_mib, text_mib, small_mib = size * 72 // 100, size * 25 // 100, size * 40 // 100, size * 10 // 100
for i in range(max(1, random_mib // 16)):
    write(f"{root}/data/random/pack{i:02d}.bin", os.urandom(16 * mib))
for i in range(max(1, base64_mib // 8)):
    write(f"{root}/data/base64/chunk{i:02d}.b64", base64.b64encode(os.urandom(6 * mib)))
for i in range(max(1, text_mib // 16)):
    write(f"{root}/text/level{i:02d}/script.txt", text(16 * mib))
for i in range(max(1, small_mib * 4)):  # 256 KiB each, half random, half text
    write(f"{root}/small/dir{i % 16:02d}/file{i:04d}.dat", os.urandom(128 * 1024) + text(128 * 1024))
EOF
(cd "$work/src" && zip -q -r "$work/archive.zip" .)
rm -rf "$work/src"
mkdir -p "$work/ref" "$work/dll"
cat "$work/archive.zip" > /dev/null  # both sides read from the page cache
archive_mib=$(awk -v b="$(stat -c %s "$work/archive.zip")" 'BEGIN { printf "%.1f", b / 1048576 }')

fresh() {  # $1: folder; leaves only a copy of the archive in it
  rm -rf "$1"
  mkdir -p "$1"
  cp "$work/archive.zip" "$1/archive.zip"
}
best() { sort -g | head -n1; }

ref_times=()
dll_times=()
dll_walls=()
dll_memory=""
for _ in $(seq 1 "$runs"); do
  fresh "$work/ref"
  start=$(date +%s.%N)
  unzip -q -o "$work/ref/archive.zip" -d "$work/ref"
  end=$(date +%s.%N)
  ref_times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")

  fresh "$work/dll"
  start=$(date +%s.%N)
  line=$("$build/wine-run.sh" "$build/bench-bin/unzip_bench.exe" "Z:${work//\//\\}\\dll\\archive.zip")
  end=$(date +%s.%N)
  case "$line" in
    *"result 0,"*) ;;
    *) echo "bench: Unzip.dll failed: $line"; exit 1 ;;
  esac
  dll_times+=("$(echo "$line" | sed -n 's/^unzip_bench \([0-9.]*\) s.*/\1/p')")
  dll_walls+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
  dll_memory=$(echo "$line" | sed -n 's/.*peak memory \([0-9.]*\) MiB.*/\1/p')
done

diff -r "$work/ref" "$work/dll" >/dev/null || { echo "bench: the unpacked trees differ"; exit 1; }
unpacked_mib=$(du -sb --exclude=archive.zip "$work/ref" | awk '{ printf "%.1f", $1 / 1048576 }')
ref_best=$(printf '%s\n' "${ref_times[@]}" | best)
dll_best=$(printf '%s\n' "${dll_times[@]}" | best)
wall_best=$(printf '%s\n' "${dll_walls[@]}" | best)
speed() { awk -v m="$unpacked_mib" -v s="$1" 'BEGIN { printf "%.1f", m / s }'; }

echo "bench: ${archive_mib} MiB archive, ${unpacked_mib} MiB unpacked, best of $runs runs, trees identical"
printf '  Info-ZIP unzip      %7s s  %8s MiB/s   (runs: %s)\n' "$ref_best" "$(speed "$ref_best")" "${ref_times[*]}"
printf '  Unzip.dll           %7s s  %8s MiB/s   (runs: %s)\n' "$dll_best" "$(speed "$dll_best")" "${dll_times[*]}"
printf '  ratio Unzip.dll / unzip speed: %s\n' "$(awk -v a="$ref_best" -v b="$dll_best" 'BEGIN { printf "%.2f", a / b }')"
printf '  Unzip.dll incl. Wine start %s s; peak memory %s MiB\n' "$wall_best" "$dll_memory"
