#!/usr/bin/env bash
# The product's main job on this machine: the lobby asks for a game, the updater fetches its
# update files from the update server, downloads and unpacks the package, runs the list's
# file commands, launches the lobby client, reports to the lobby and opens the game's room.
# The package carries a manifest, so it is installed entry by entry while its bytes arrive and
# never lands on disk as an archive.
# The update files are signed with a throw-away publisher key whose public half is installed
# beside the updater, so the updater runs them only because their signatures verify and their
# release sections say they belong to the URLs they came from, are current and not older than
# anything it accepted before.
# Prints what happens as it happens, leaves a screenshot taken mid-download, and ends with one
# line saying whether the game was installed and the lobby told (non-zero exit when not).
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

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
lobby_port=$(free_port)
http_port=$(free_port)

# The updater's ready-to-copy folder, installed beside the lobby's configuration file.
demo="$build/demo"
rm -rf "$demo" && mkdir -p "$demo/program" "$demo/server"
cp "$build"/bin/updater.exe "$build"/bin/CfgEngine.dll "$build"/bin/Unzip.dll "$build"/bin/Mavrin.exe "$demo/program/"
printf '[GameSet]\r\nUpdateSetPort=%s\r\n' "$lobby_port" > "$demo/program/kvgame.kcf"
expected=$(python3 "$root/scripts/make_demo_game.py" "$demo/server" "http://127.0.0.1:$http_port" 4)
echo "demo: the updater is installed in $demo/program; the lobby listens on 127.0.0.1:$lobby_port"

# The publisher's part: a throw-away key, the release signed with it, the public key installed.
mkdir -p "$demo/publisher"
openssl ecparam -name prime256v1 -genkey -noout -out "$demo/publisher/publisher.pem"
openssl ec -in "$demo/publisher/publisher.pem" -pubout -out "$demo/program/update-key.pub" 2>/dev/null
"$root/scripts/sign-update.sh" "$demo/server" "$demo/publisher/publisher.pem" --base-url "http://127.0.0.1:$http_port" |
  sed 's/^/  /'
echo "demo: the public key is installed as $demo/program/update-key.pub"
package_manifest="$demo/server/demo/DemoGame.zip.manifest"
echo "demo: the package's manifest, named by manifest= in the list: demo/DemoGame.zip.manifest," \
  "$(grep -c '^entry ' "$package_manifest" 2>/dev/null || echo 0) entries"

# The update server, slowed down so the download can be seen (and photographed) in progress.
WINEDEBUG=-all "$build/wine-run.sh" "$build/bin/update-server.exe" --root "Z:${demo//\//\\}\\server" --port "$http_port" \
  --rate-kib 600 > "$demo/server.log" 2>&1 &
server=$!
pids+=($server)
tail -n +1 -f "$demo/server.log" --pid "$server" | sed -u 's/^/  /' &

cd "$demo/program"
WINEDEBUG=-all "$build/wine-run.sh" "$build/bin/lobby-sim.exe" --port "$lobby_port" \
  --request "42,示例游戏,http://127.0.0.1:$http_port/demo/url.ini,demo" \
  --exit-on start-game-room --timeout 120 > "$demo/lobby.log" 2>&1 &
lobby=$!
pids+=($lobby)
tail -n +1 -f "$demo/lobby.log" --pid "$lobby" | sed -u 's/^/  /' &
for _ in $(seq 1 100); do grep -q 'listening on' "$demo/lobby.log" && break; sleep 0.1; done

# Every name of an archive file (the package or its side file) that shows up in the game's
# folder while the updater runs.
archive_seen="$demo/archive-files-seen.txt"
: > "$archive_seen"
(while :; do ls "$demo/program/DemoGame" 2>/dev/null | grep -i '^DemoGame\.zip' >> "$archive_seen" || true; sleep 0.05; done) &
watcher=$!
pids+=($watcher)

trace="$demo/updater-trace.txt"
: > "$trace"
# The updater's trace lines reach Wine's debug log; the filter turns them back into text.
WINEDEBUG=-all,+debugstr "$build/wine-run.sh" ./updater.exe \
  2> >(python3 "$root/scripts/wine_trace.py" "  updater: " | tee "$trace") &
updater=$!
pids+=($updater)

# The screenshot, once the package is coming in.
screenshot="$demo/screenshot-mid-download.png"
for _ in $(seq 1 600); do
  grep -q -E 'StreamPackage|no manifest at' "$trace" && break
  sleep 0.1
done
sleep 1.5
import -window root -display "$DISPLAY" "$screenshot" 2>/dev/null && echo "demo: screenshot taken mid-download: $screenshot"

lobby_status=0
wait "$lobby" || lobby_status=$?
updater_ended=no
for _ in $(seq 1 100); do
  kill -0 "$updater" 2>/dev/null || { updater_ended=yes; break; }
  sleep 0.1
done
kill "$watcher" 2>/dev/null || true

echo
echo "demo: what the lobby received:"
grep 'received' "$demo/lobby.log" | sed 's/^/  /' || echo "  nothing"
echo "demo: the game installed in $demo/program:"
installed=yes
while read -r file; do
  if [ -f "$demo/program/$file" ]; then
    printf '  %-36s %10d bytes\n' "$file" "$(stat -c %s "$demo/program/$file")"
  else
    printf '  %-36s MISSING\n' "$file"; installed=no
  fi
done <<< "$expected"
[ -e "$demo/program/DemoGame/DemoGame.zip" ] && { echo "  the package archive is still there"; installed=no; }
echo "demo: lobby client: $(cat "$demo/program/Mavrin.log" 2>/dev/null || echo 'never launched')"
echo "demo: output.txt:"
iconv -f GBK -t UTF-8 "$demo/program/output.txt" 2>/dev/null | sed 's/\r$//; s/^/  /' || echo "  (none)"
echo "demo: the updater $( [ "$updater_ended" = yes ] && echo 'closed itself' || echo 'was still running')"
echo "demo: signatures and releases the updater checked:"
verified=$(grep -c 'signature of .* verified' "$trace" || true)
accepted=$(grep -c 'release of .* accepted' "$trace" || true)
grep -E 'publisher key|signature of|release of' "$trace" | sed 's/^ *updater: qen: /  /' || echo "  none"
echo "demo: serials the updater recorded ($demo/program/update-serials.txt):"
sed 's/\r$//; s/^/  /' "$demo/program/update-serials.txt" 2>/dev/null || echo "  none"
echo "demo: how the package was installed:"
zip_requests=$(grep -c 'GET /demo/DemoGame\.zip ' "$demo/server.log" || true)
if grep -q 'GET /demo/DemoGame\.zip\.manifest 200' "$demo/server.log" && ! grep -q 'no manifest at' "$trace" &&
   [ ! -s "$archive_seen" ]; then
  through_manifest=yes
  echo "  through its manifest: the updater fetched demo/DemoGame.zip.manifest, read DemoGame.zip in" \
    "$zip_requests request(s) and installed its entries as they arrived; no archive file appeared in DemoGame/"
else
  through_manifest=no
  echo "  not through its manifest (manifest requests: $(grep -c 'DemoGame\.zip\.manifest' "$demo/server.log" || true)," \
    "archive files seen: $(sort -u "$archive_seen" | tr '\n' ' '))"
fi

if [ "$installed" = yes ] && [ "$lobby_status" -eq 0 ] && grep -q 'task-ended report' "$demo/lobby.log" &&
   [ -f "$demo/program/Mavrin.log" ] && [ "$verified" -eq 2 ] && [ "$accepted" -eq 2 ] && [ "$through_manifest" = yes ]; then
  echo "demo: OK - the update URL file and the list were verified and their releases accepted, the game was installed through its package's manifest and the lobby got the task-ended report and the start-game-room request"
  exit 0
fi
echo "demo: FAILED - installed: $installed, lobby exit status: $lobby_status, signatures verified: $verified of 2, releases accepted: $accepted of 2, through the manifest: $through_manifest (see $demo)"
exit 1
