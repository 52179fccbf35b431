#!/usr/bin/env bash
# Update benchmark: the install benchmark's game (about 1 GiB, its generator and cache), and its
# next release with 3 % of the entries changed, both zipped by Info-ZIP with their manifests and
# served by nginx on loopback. In one run the updater installs release 1 into a fresh folder (a
# full install), updates it to release 2, and is asked for release 2 again. Prints the package
# bytes the update fetched against the changed entries' compressed bytes, the requests it made,
# its time against the full install's, and the time to decide that nothing changed, each with
# its goal and whether it was met. Figures only: it fails only if a task fails or the installed
# game differs from release 2.
#   bench/update_bench.sh [game MiB]   (default 1024; release 2 is kept in build/update-bench/)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
size_mib="${1:-1024}"
source "$root/bench/bench_lib.sh"
bench_begin update-bench updater CfgEngine Unzip Mavrin lobby-sim

# Release 1 is the install benchmark's game; release 2 changes every 33rd file (in name order)
# a little, which changes its whole entry. Made once, beside release 1's cache name.
bench_game "$size_mib"
release1="$cache"
upd="$build/update-bench/$(basename "$release1")"
if [ ! -f "$upd/www/v2.zip.manifest" ]; then
  echo "bench: making release 2 (once; kept in $upd)"
  rm -rf "$upd" && mkdir -p "$upd/www"
  cp -al "$release1/game" "$upd/game"  # hard links: a changed file is written anew, never in place
  (cd "$upd/game" && find . -type f | sort | awk 'NR % 33 == 1') | while read -r file; do
    { printf 'patch 2 '; tail -c +9 "$upd/game/$file"; } > "$upd/changed.tmp"
    rm "$upd/game/$file" && mv "$upd/changed.tmp" "$upd/game/$file"
  done
  ln -s "$release1/www/game.zip" "$upd/www/v1.zip"
  (cd "$upd/game" && zip -q -r "$upd/www/v2.zip.tmp" .) && mv "$upd/www/v2.zip.tmp" "$upd/www/v2.zip"
  for v in v1 v2; do python3 "$root/scripts/make_manifest.py" "$upd/www/$v.zip" > "$upd/$v.sha256"; done
fi

# What the update needs: the entries of release 2 that release 1 lacks or holds otherwise, their
# compressed bytes, and their ranges once neighbours less than 64 KiB apart are merged, with the
# bytes those hold (local headers and the gaps merged over).
read -r entries changed changed_bytes changed_ranges range_bytes < <(python3 - "$upd/www/v1.zip.manifest" "$upd/www/v2.zip.manifest" <<'EOF'
import sys
def entries(path):
    lines = open(path, "rb").read().split(b"\r\n")
    return {f[12]: f for f in (line.split(b" ", 12) for line in lines) if f[0] == b"entry"}
old, new = entries(sys.argv[1]), entries(sys.argv[2])
needed = sorted((int(f[6]), int(f[7]) + int(f[8]), int(f[8]))
                for name, f in new.items() if name not in old or old[name][11] != f[11])
merged = []
for first, last, _ in needed:
    if merged and first - merged[-1][1] < 65536:
        merged[-1][1] = max(merged[-1][1], last)
    else:
        merged.append([first, last])
print(len(new), len(needed), sum(n for _, _, n in needed), len(merged), sum(b - a for a, b in merged))
EOF
)

start_nginx "$upd/www"
base="http://127.0.0.1:$nginx_port"
access="$work/nginx/access.log"
for v in v1 v2; do
  printf '[config]\r\ngame=%s/list-%s.ini\r\n' "$base" "$v" > "$upd/www/url-$v.ini"
  printf '[list0]\r\naction=1\r\ncmd=CRE\r\ndestfile=Game\r\n[list1]\r\naction=3\r\nsrcfile=%s/%s.zip\r\ndestfile=Game\\game.zip\r\ncmd=DEC\r\nmanifest=%s\r\n[list2]\r\naction=0\r\n' \
    "$base" "$v" "$(cut -c1-64 "$upd/$v.sha256")" > "$upd/www/list-$v.ini"
done
mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
met() { awk "BEGIN { exit !($1) }" && echo met || echo "NOT met"; }

# One task in the updater folder $dir, for release $1, timed from the lobby's request to its
# task-ended record; sets $task_s, $decide_s (from the manifest served to the task's end: the
# plan, and the fetch if any), and $package_bytes / $package_requests / $requests from nginx's
# log (body bytes of the zip and its manifest; their requests; all requests).
dir="$work/app"
port=$(free_port)
install_updater "$dir" "$port"
run_task() {
  local mark
  mark=$(wc -l < "$access")
  sync
  run_game_task "$dir" "$port" "$base/url-$1.ini" wall
  task_s=$(seconds "$task_sent" "$task_ended")
  sleep 0.2  # nginx logs a request once its response is done
  read -r package_bytes package_requests requests manifest_at < <(tail -n +$((mark + 1)) "$access" |
    awk -v zip="/$1.zip" '$3 == zip || $3 == zip ".manifest" { b += $6; n++ } $3 == zip ".manifest" { m = $1 }
                          { all++ } END { printf "%d %d %d %.3f\n", b, n, all, m }')
  decide_s=$(seconds "$manifest_at" "$task_ended")
}

installed=$(du -sb "$release1/game" | cut -f1)
echo "bench: a $(mib "$installed") MiB game, $entries entries in release 2 ($(mib "$(stat -c %s "$upd/www/v2.zip")") MiB zip);" \
  "$changed entries changed or added ($(mib "$changed_bytes") MiB compressed; $changed_ranges ranges of $(mib "$range_bytes") MiB" \
  "with their local headers and the gaps under 64 KiB between them), served by nginx on loopback"
run_task v1
full_s=$task_s
printf '  full install of release 1       %8s s, %s MiB of package\n' "$full_s" "$(mib "$package_bytes")"
run_task v2
diff -r "$upd/game" "$dir/Game" > /dev/null || { echo "bench: the update differs from release 2"; exit 1; }
update_s=$task_s update_bytes=$package_bytes update_requests=$package_requests update_all=$requests
manifest_bytes=$(stat -c %s "$upd/www/v2.zip.manifest")
printf '  update to release 2             %8s s (%s of the full install), %s requests in all\n' \
  "$update_s" "$(awk -v u="$update_s" -v f="$full_s" 'BEGIN { printf "%.2f", u / f }')" "$update_all"
printf '    package bytes fetched %s for %s of changed entries + %s of manifest: manifest + %s x changed (goal: at most 1.05) %s\n' \
  "$update_bytes" "$changed_bytes" "$manifest_bytes" \
  "$(awk -v b="$update_bytes" -v m="$manifest_bytes" -v c="$changed_bytes" 'BEGIN { printf "%.3f", (b - m) / c }')" \
  "$(met "$update_bytes <= 1.05 * $changed_bytes + $manifest_bytes")"
goal_requests=$(( (changed_ranges + 19) / 20 + 3 ))
printf '    package requests %s (goal: at most ceil(%s ranges / 20) + 3 = %s) %s\n' \
  "$update_requests" "$changed_ranges" "$goal_requests" "$(met "$update_requests <= $goal_requests")"
run_task v2
printf '  release 2 again: %s s request to task end, %s bytes of zip and manifest (the manifest is %s)\n' "$task_s" "$package_bytes" "$manifest_bytes"
printf '    nothing changed decided in %s s, manifest to task end (goal: at most 1 s per GiB installed, %s s) %s\n' \
  "$decide_s" "$(awk -v g="$installed" 'BEGIN { printf "%.2f", g / 1073741824 }')" \
  "$(met "$decide_s <= $installed / 1073741824")"
