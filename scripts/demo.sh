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
# Then the publisher puts out the game's next release, three files changed and one added, and
# the lobby asks again: the updater fetches only the entries it lacks, by range.
# Prints what happens as it happens, the bytes of the package fetched for each release (from
# the server's log), leaves a screenshot taken mid-download, and ends with one line saying
# whether both releases were installed and the lobby told (non-zero exit when not).
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
rm -rf "$demo" && mkdir -p "$demo/program" "$demo/server" "$demo/publisher"
cp "$build"/bin/updater.exe "$build"/bin/CfgEngine.dll "$build"/bin/Unzip.dll "$build"/bin/Mavrin.exe "$demo/program/"
printf '[GameSet]\r\nUpdateSetPort=%s\r\n' "$lobby_port" > "$demo/program/kvgame.kcf"
echo "demo: the updater is installed in $demo/program; the lobby listens on 127.0.0.1:$lobby_port"

# The publisher's part: a throw-away key, each release signed with it, the public key installed.
openssl ecparam -name prime256v1 -genkey -noout -out "$demo/publisher/publisher.pem"
openssl ec -in "$demo/publisher/publisher.pem" -pubout -out "$demo/program/update-key.pub" 2>/dev/null
echo "demo: the public key is installed as $demo/program/update-key.pub"
package_manifest="$demo/server/demo/DemoGame.zip.manifest"
# $1: the release (1 or 2); the files it installs go to $demo/expected-$1.txt.
publish() {
  python3 "$root/scripts/make_demo_game.py" "$demo/server" "http://127.0.0.1:$http_port" 4 "$1" > "$demo/expected-$1.txt"
  "$root/scripts/sign-update.sh" "$demo/server" "$demo/publisher/publisher.pem" --base-url "http://127.0.0.1:$http_port" \
    --serial "$1" | sed 's/^/  /'
  echo "demo: release $1 published; the package's manifest, named by manifest= in the list:" \
    "demo/DemoGame.zip.manifest, $(grep -c '^entry ' "$package_manifest" 2>/dev/null || echo 0) entries," \
    "the package $(stat -c %s "$demo/server/demo/DemoGame.zip") bytes"
}
publish 1

# The update server, slowed down so the download can be seen (and photographed) in progress.
WINEDEBUG=-all "$build/wine-run.sh" "$build/bin/update-server.exe" --root "Z:${demo//\//\\}\\server" --port "$http_port" \
  --rate-kib 600 > "$demo/server.log" 2>&1 &
server=$!
pids+=($server)
tail -n +1 -f "$demo/server.log" --pid "$server" | sed -u 's/^/  /' &

# One request of the lobby for the game, answered by the updater to the end. $1: the release.
# Sets ok_$1 to yes when the game was installed through its manifest, verified and reported;
# sets fetched_$1 to the package bytes the server sent meanwhile.
run_release() {
  local n=$1 mark lobby updater watcher lobby_status=0 updater_ended=no installed=yes through_manifest=no
  local trace="$demo/updater-trace-$n.txt" lobby_log="$demo/lobby-$n.log" archive_seen="$demo/archive-files-seen-$n.txt"
  mark=$(wc -l < "$demo/server.log")
  cd "$demo/program"
  WINEDEBUG=-all "$build/wine-run.sh" "$build/bin/lobby-sim.exe" --port "$lobby_port" \
    --request "42,示例游戏,http://127.0.0.1:$http_port/demo/url.ini,demo" \
    --exit-on start-game-room --timeout 120 > "$lobby_log" 2>&1 &
  lobby=$!
  pids+=($lobby)
  tail -n +1 -f "$lobby_log" --pid "$lobby" | sed -u 's/^/  /' &
  for _ in $(seq 1 100); do grep -q 'listening on' "$lobby_log" && break; sleep 0.1; done

  # Every name of an archive file (the package or its side file) that shows up in the game's
  # folder while the updater runs.
  : > "$archive_seen"
  (while :; do ls "$demo/program/DemoGame" 2>/dev/null | grep -i '^DemoGame\.zip' >> "$archive_seen" || true; sleep 0.05; done) &
  watcher=$!
  pids+=($watcher)

  : > "$trace"
  # The updater's trace lines reach Wine's debug log; the filter turns them back into text.
  WINEDEBUG=-all,+debugstr "$build/wine-run.sh" ./updater.exe \
    2> >(python3 "$root/scripts/wine_trace.py" "  updater: " | tee "$trace") &
  updater=$!
  pids+=($updater)

  if [ "$n" = 1 ]; then
    # The screenshot, once the package is coming in.
    local screenshot="$demo/screenshot-mid-download.png"
    for _ in $(seq 1 600); do
      grep -q -E 'StreamPackage|no manifest at' "$trace" && break
      sleep 0.1
    done
    sleep 1.5
    import -window root -display "$DISPLAY" "$screenshot" 2>/dev/null && echo "demo: screenshot taken mid-download: $screenshot"
  fi

  wait "$lobby" || lobby_status=$?
  for _ in $(seq 1 100); do
    kill -0 "$updater" 2>/dev/null || { updater_ended=yes; break; }
    sleep 0.1
  done
  kill "$watcher" 2>/dev/null || true

  echo
  echo "demo: release $n: what the lobby received:"
  grep 'received' "$lobby_log" | sed 's/^/  /' || echo "  nothing"
  echo "demo: release $n: the game installed in $demo/program:"
  while read -r file; do
    if [ -f "$demo/program/$file" ]; then
      printf '  %-36s %10d bytes\n' "$file" "$(stat -c %s "$demo/program/$file")"
    else
      printf '  %-36s MISSING\n' "$file"; installed=no
    fi
  done < "$demo/expected-$n.txt"
  [ -e "$demo/program/DemoGame/DemoGame.zip" ] && { echo "  the package archive is still there"; installed=no; }
  # Every entry of the release's manifest hashes, on disk, to what the manifest says.
  python3 - "$package_manifest" "$demo/program/DemoGame" <<'PY' || installed=no
import hashlib, os, sys
bad = 0
for line in open(sys.argv[1], "rb").read().split(b"\r\n"):
    f = line.split(b" ", 12)
    if f[0] == b"entry" and not f[12].endswith(b"/"):
        name = f[12].decode("utf-8" if int(f[2]) & 0x800 else "gbk")
        path = os.path.join(sys.argv[2], name)
        if not os.path.isfile(path) or hashlib.sha256(open(path, "rb").read()).hexdigest().encode() != f[11]:
            print("  differs from the release:", name)
            bad += 1
sys.exit(1 if bad else 0)
PY
  echo "demo: release $n: lobby client: $(cat "$demo/program/Mavrin.log" 2>/dev/null || echo 'never launched')"
  echo "demo: release $n: output.txt:"
  iconv -f GBK -t UTF-8 "$demo/program/output.txt" 2>/dev/null | sed 's/\r$//; s/^/  /' || echo "  (none)"
  echo "demo: release $n: the updater $( [ "$updater_ended" = yes ] && echo 'closed itself' || echo 'was still running')"
  echo "demo: release $n: signatures and releases the updater checked:"
  local verified accepted zip_requests
  verified=$(grep -c 'signature of .* verified' "$trace" || true)
  accepted=$(grep -c 'release of .* accepted' "$trace" || true)
  grep -E 'publisher key|signature of|release of' "$trace" | sed 's/^ *updater: qen: /  /' || echo "  none"
  echo "demo: release $n: serials the updater recorded ($demo/program/update-serials.txt):"
  sed 's/\r$//; s/^/  /' "$demo/program/update-serials.txt" 2>/dev/null || echo "  none"
  echo "demo: release $n: how the package was installed:"
  tail -n +$((mark + 1)) "$demo/server.log" > "$demo/server-$n.log"
  zip_requests=$(grep -c 'GET /demo/DemoGame\.zip ' "$demo/server-$n.log" || true)
  printf -v "fetched_$n" '%s' "$(awk '/GET \/demo\/DemoGame\.zip / { for (i = 1; i < NF; ++i) if ($i == "->") s += $(i + 1) } END { print s + 0 }' "$demo/server-$n.log")"
  local fetched_var="fetched_$n"
  if grep -q 'GET /demo/DemoGame\.zip\.manifest 200' "$demo/server-$n.log" && ! grep -q 'no manifest at' "$trace" &&
     [ ! -s "$archive_seen" ]; then
    through_manifest=yes
    echo "  through its manifest: the updater fetched demo/DemoGame.zip.manifest, read ${!fetched_var} bytes of" \
      "DemoGame.zip ($(stat -c %s "$demo/server/demo/DemoGame.zip") bytes) in $zip_requests request(s) and installed" \
      "its entries as they arrived; no archive file appeared in DemoGame/"
  else
    echo "  not through its manifest (manifest requests: $(grep -c 'DemoGame\.zip\.manifest' "$demo/server-$n.log" || true)," \
      "archive files seen: $(sort -u "$archive_seen" | tr '\n' ' '))"
  fi
  cd "$root"
  if [ "$installed" = yes ] && [ "$lobby_status" -eq 0 ] && grep -q 'task-ended report' "$lobby_log" &&
     [ -f "$demo/program/Mavrin.log" ] && [ "$verified" -eq 2 ] && [ "$accepted" -eq 2 ] && [ "$through_manifest" = yes ]; then
    printf -v "ok_$n" yes
  else
    printf -v "ok_$n" no
    echo "demo: release $n FAILED - installed: $installed, lobby exit status: $lobby_status, signatures verified:" \
      "$verified of 2, releases accepted: $accepted of 2, through the manifest: $through_manifest (see $demo)"
  fi
}

run_release 1
echo
echo "demo: the publisher puts out release 2: bin/game.dat, data/textures/tex3.dds and 游戏说明.txt changed, data/maps/map02.pak added"
publish 2
run_release 2

echo
echo "demo: package bytes fetched: release 1 (a fresh install) $fetched_1, release 2 (the update) $fetched_2"
if [ "$ok_1" = yes ] && [ "$ok_2" = yes ] && [ "$fetched_2" -lt "$fetched_1" ]; then
  echo "demo: OK - for each release the update URL file and the list were verified and their releases accepted, the game was installed through its package's manifest and the lobby got the task-ended report and the start-game-room request; the update fetched only what changed"
  exit 0
fi
echo "demo: FAILED - release 1: $ok_1, release 2: $ok_2, package bytes fetched $fetched_1 then $fetched_2 (see $demo)"
exit 1
