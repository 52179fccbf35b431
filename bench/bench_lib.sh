# Sourced by the benchmarks: their common start, a ready-to-copy updater folder with its own
# lobby port, a lobby simulator beside it, CPU times of Linux processes, nginx serving a folder,
# medians. Expects $root and $build; bench_begin sets up $WINEPREFIX, $work and the $pids array
# of processes to end at exit.

# Installs what is missing, builds only the given targets (so a bench works while other parts
# of the tree are being changed), and starts one display and one Wine server for the whole run;
# $1: a name for the work folder, rest: the targets. Everything is undone at exit.
bench_begin() {
  local name="$1" log
  shift
  "$root/scripts/install-deps.sh"
  log=$(cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" 2>&1 &&
        cmake --build "$build" -j 2 --target "$@" 2>&1) || { echo "$log"; exit 1; }
  export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  source "$root/scripts/virtual_display.sh"
  work=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX")
  chmod a+rx "$work"  # nginx's workers don't run as us
  pids=()
  trap bench_end EXIT
  start_virtual_display "$WINEPREFIX"
  "$build/wine-run.sh" wineboot -i >/dev/null 2>&1 || true
}

bench_end() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait "${pids[@]}" 2>/dev/null || true
  stop_virtual_display "$WINEPREFIX"
  rm -rf "$work"
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
winpath() { local p="Z:${1//\//\\}"; echo "$p"; }

# The updater's ready-to-copy folder with its own lobby port; $1: folder, $2: port.
install_updater() {
  mkdir -p "$1"
  cp "$build"/bin/updater.exe "$build"/bin/CfgEngine.dll "$build"/bin/Unzip.dll "$build"/bin/Mavrin.exe "$1/"
  printf '[GameSet]\r\nUpdateSetPort=%s\r\n' "$2" > "$1/kvgame.kcf"
}

# A lobby that keeps the connection open for $3 seconds after sending; $1: folder, $2: port,
# rest: lobby-sim options (--request ...). Its output, each line stamped with the monotonic
# clock, goes to $1/lobby.log.
start_lobby() {
  local dir="$1" port="$2" keep="$3"
  shift 3
  (cd "$dir" && "$build/wine-run.sh" "$build/bin/lobby-sim.exe" --port "$port" "$@" \
    --exit-on sent --linger-ms $((keep * 1000)) --timeout $((keep + 60)) 2>&1 | stamp_lines > "$dir/lobby.log") &
  pids+=($!)
  for _ in $(seq 1 300); do grep -q 'listening on' "$dir/lobby.log" && return 0; sleep 0.1; done
  echo "bench: lobby-sim did not start"; cat "$dir/lobby.log"; exit 1
}

# One task as the lobby asks for it: a lobby in folder $1 on port $2 asks the updater there for
# the game of update URL $3 and waits for the task-ended record; $4 is stamp_lines' clock ("" or
# "wall"). Sets $task_sent and $task_ended, on that clock; the lobby's output is in $1.lobby.log.
run_game_task() {
  local dir="$1" port="$2" url="$3" clock="${4:-}"
  (cd "$dir" && exec "$build/wine-run.sh" "$build/bin/lobby-sim.exe" --port "$port" \
    --request "42,Game,$url,game" --exit-on reports:1 --timeout 900 2>&1 | stamp_lines $clock > "$dir.lobby.log") &
  local lobby=$!
  pids+=($lobby)
  for _ in $(seq 1 300); do grep -qs 'listening on' "$dir.lobby.log" && break; sleep 0.1; done
  (cd "$dir" && exec "$build/wine-run.sh" ./updater.exe) &
  local updater=$!
  pids+=($updater)
  wait "$lobby" || true
  kill "$updater" 2>/dev/null || true
  wait "$updater" 2>/dev/null || true
  task_sent=$(awk '/sent request for game/ { print $1; exit }' "$dir.lobby.log")
  task_ended=$(awk '/received task-ended report/ { print $1; exit }' "$dir.lobby.log")
  if [ -z "$task_sent" ] || [ -z "$task_ended" ]; then
    echo "bench: the updater did not report the task's end"; cat "$dir.lobby.log"; exit 1
  fi
}

# Prefixes every line with the seconds of the system's monotonic clock, the same in every process;
# with "wall", of the wall clock (what nginx's log shows as $msec).
stamp_lines() {
  python3 -u -c '
import sys, time
clock = time.time if sys.argv[1:] == ["wall"] else time.monotonic
for line in sys.stdin.buffer:
    sys.stdout.write("%.3f %s" % (clock(), line.decode("latin-1")))
    sys.stdout.flush()' "$@"
}

# The demo game served slowly on a free port; sets $http_port.
serve_demo_game() {
  http_port=$(free_port)
  mkdir -p "$work/server"
  python3 "$root/scripts/make_demo_game.py" "$work/server" "http://127.0.0.1:$http_port" "${1:-40}" >/dev/null
  "$build/wine-run.sh" "$build/bin/update-server.exe" --root "$(winpath "$work/server")" --port "$http_port" \
    --rate-kib 200 --quiet > "$work/server.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 300); do grep -q "127.0.0.1:$http_port" "$work/server.log" && return 0; sleep 0.1; done
  echo "bench: update-server did not start"; cat "$work/server.log"; exit 1
}

# CPU seconds (user+kernel, all threads) of a Linux process, 0 once it is gone. Wine gives
# another process's user and kernel times as zero, so GetProcessTimes can't be used here; a
# Wine program is an ordinary Linux process and /proc has its times.
cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); printf "%.2f", ($12 + $13) / hz }' "/proc/$1/stat" 2>/dev/null || echo 0
}
now() { date +%s.%N; }
share() { awk -v c="$1" -v w="$2" 'BEGIN { printf "%.2f", 100 * c / w }'; }

# The Wine server of this prefix works for the updater too (messages, timers): its working
# folder is named server-DEV-INODE after the prefix, under a temporary folder of Wine's.
wineserver_pid() {
  local dir pid
  dir="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
  for pid in /proc/[0-9]*; do
    case "$(cat "$pid/comm" 2>/dev/null)" in wineserver*) ;; *) continue ;; esac
    [ "$(basename "$(readlink "$pid/cwd" 2>/dev/null)")" = "$dir" ] && { echo "${pid#/proc/}"; return; }
  done
  echo 0
}

# nginx from Debian's packages serving the folder $1 on a free loopback port, with its
# configuration, logs and temporary files in $work/nginx; $2, when given, is added to the
# server block (locations). Sets $nginx_port. Its access.log has one line per request, written
# when the request ends (a dropped one too): `$msec "$request" $status $body_bytes_sent`.
start_nginx() {
  local conf="$work/nginx" code=000
  nginx_port=$(free_port)
  mkdir -p "$conf"
  cat > "$conf/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $conf/nginx.pid;
error_log $conf/error.log;
events { worker_connections 64; }
http {
  log_format bench '\$msec "\$request" \$status \$body_bytes_sent';
  access_log $conf/access.log bench;
  client_body_temp_path $conf;
  proxy_temp_path $conf;
  fastcgi_temp_path $conf;
  uwsgi_temp_path $conf;
  scgi_temp_path $conf;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$nginx_port;
    root $1;
    ${2:-}
  }
}
CONF
  /usr/sbin/nginx -c "$conf/nginx.conf" -p "$conf" &
  pids+=($!)
  for _ in $(seq 1 100); do
    code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$nginx_port/" || true)
    [ "$code" != 000 ] && return 0
    sleep 0.1
  done
  echo "bench: nginx did not start"; cat "$conf/error.log"; exit 1
}

# The median of the figures given, and their spread as "lowest-highest".
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
spread() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%s-%s", v[1], v[NR] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The benchmarks' game of $1 MiB (default 1024; thousands of small files, some large ones, text
# that compresses and data that does not), made once per size (the same bytes every time) and
# kept with its Info-ZIP zip; sets $cache: $cache/game and $cache/www/game.zip.
bench_game() {
  local size_mib="${1:-1024}"
  cache="$build/install-bench/game-v2-$size_mib"  # v2: the generator below; change it with it
  if [ ! -f "$cache/www/game.zip" ]; then
    echo "bench: making a game of $size_mib MiB and zipping it (once; kept in $cache)"
    rm -rf "$cache"
    python3 - "$cache/game" "$size_mib" <<'EOF'
import base64, os, random, sys
root, size = sys.argv[1], int(sys.argv[2]) << 20
mib = 1 << 20
rng = random.Random(22)
words = [b"update", b"lobby", b"game", b"room", b"patch", b"level", b"player", b"score", b"1024"]
# Repeats only every MiB, beyond deflate's 32 KiB window: compresses like real text.
block = b" ".join(rng.choice(words) for _ in range(150000))[:mib]
def text(n):
    return (block * (n // mib + 1))[:n]
def random_bytes(n):
    return rng.randbytes(n)
def write(path, make, n):
    path = os.path.join(root, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        while n > 0:
            step = min(n, 16 * mib)
            f.write(make(step))
            n -= step
# About 45 % large incompressible files, 20 % large text, 15 % base64, 20 % small files.
for i in range(max(1, round(size * 0.45 / (96 * mib)))):
    write("data/packs/pack%02d.pak" % i, random_bytes, 96 * mib)
for i in range(max(1, round(size * 0.20 / (64 * mib)))):
    write("text/level%02d/script.txt" % i, text, 64 * mib)
for i in range(max(1, round(size * 0.15 / (16 * mib)))):
    write("data/encoded/chunk%02d.b64" % i, lambda n: base64.b64encode(random_bytes(n * 3 // 4 + 3))[:n], 16 * mib)
small, i = size * 20 // 100, 0
while small > 0:  # 4 to 96 KiB each, one in three random, in 64 folders
    n = rng.randrange(4096, 96 * 1024)
    write("assets/dir%02d/file%05d.%s" % (i % 64, i, "bin" if i % 3 == 0 else "txt"),
          random_bytes if i % 3 == 0 else text, n)
    small -= n
    i += 1
EOF
    mkdir -p "$cache/www"
    (cd "$cache/game" && zip -q -r "$cache/www/game.zip.tmp" .) && mv "$cache/www/game.zip.tmp" "$cache/www/game.zip"
  fi
}
