#!/usr/bin/env bash
# Runs a test command beside a native nginx on a free loopback port, serving a package made by
# Info-ZIP with its manifest, with the bytes held back to a steady pace so a test can watch (or
# cut) an install under way. The command learns, from the environment:
#   UPDATER_NGINX_PORT   the port
#   UPDATER_PACKAGE_DIR  the fixture folder:
#     start/       the game's folder before the update (a file the zip lacks, an old version)
#     expected/    start/ after Info-ZIP `unzip -o` of the package
#     manifest.sha256  what the list entry's manifest= carries
#     tampered.txt the name (as stored) of the entry whose bytes tampered.zip changes
#     nginx.log    the access log
#     upd/         two releases of a game of 40 files, for updates: v1/ as Info-ZIP unpacks
#                  v1.zip, expected/ after `unzip -o` of v2.zip over it, vN.sha256 (manifest=),
#                  needed.txt (the compressed bytes of v2's entries that v1 lacks or holds
#                  otherwise), upd.log (`URI bytes-sent body-bytes-sent` per request under /upd/)
#     seg.sha256   the checksum of /seg/big.bin (40 MiB, 1 MiB/s per connection)
#     seg.log      `end-time request-time status body-bytes-sent` per request under /seg/
# Served: /pkg.zip and /pkg.zip.manifest; /tampered.zip (one stored entry's byte flipped) with
# the same manifest; /upd/v1.zip and /upd/v2.zip with their manifests, v2 also from /upd/r0/
# (nginx answers every Range with 200) and /upd/r1/ (a multi-range request gets the whole file).
#   with_nginx.sh MAKE_MANIFEST COMMAND...
set -euo pipefail
make_manifest=$1
shift
dir=$(mktemp -d)
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

# The package: sub-folders, an empty file, deflated text, stored binaries (-n), a GBK name.
src="$dir/src"
mkdir -p "$src/sub/deep" "$dir/www" "$dir/start"
for i in $(seq 1 4000); do echo "line $i of the new readme"; done >"$src/readme.txt"
: >"$src/empty.txt"
head -c 1048576 /dev/urandom >"$src/sub/deep/level.dat"
for i in $(seq 1 2000); do echo "note $i"; done >"$src/sub/notes.txt"
printf 'a file with a GBK name\r\n' >"$src/sub/$(printf '\xd3\xce\xcf\xb7').txt"
head -c 3145728 /dev/urandom >"$src/big.bin"
(cd "$src" && zip -q -r -n .dat:.bin "$dir/www/pkg.zip" readme.txt empty.txt sub big.bin)
python3 "$make_manifest" "$dir/www/pkg.zip" >"$dir/manifest.sha256"

# The tampered copy: one byte in the middle of the stored sub/deep/level.dat.
cp "$dir/www/pkg.zip" "$dir/www/tampered.zip"
cp "$dir/www/pkg.zip.manifest" "$dir/www/tampered.zip.manifest"
python3 - "$dir/www/pkg.zip.manifest" "$dir/www/tampered.zip" >"$dir/tampered.txt" <<'PY'
import sys
for line in open(sys.argv[1], "rb").read().split(b"\r\n"):
    fields = line.split(b" ", 12)
    if fields[0] == b"entry" and fields[12] == b"sub/deep/level.dat":
        at = int(fields[7]) + int(fields[8]) // 2
        with open(sys.argv[2], "r+b") as zip_file:
            zip_file.seek(at)
            byte = zip_file.read(1)
            zip_file.seek(at)
            zip_file.write(bytes([byte[0] ^ 0xFF]))
        sys.stdout.write(fields[12].decode())
PY

# The folder before the update, and what Info-ZIP makes of it; its raw GBK names are then
# spelled as the wide Windows APIs write them under Wine (UTF-8).
printf 'not in the package\r\n' >"$dir/start/keep.txt"
printf 'the old readme\r\n' >"$dir/start/readme.txt"
cp -r "$dir/start" "$dir/expected"
unzip -q -o "$dir/www/pkg.zip" -d "$dir/expected"
python3 - "$dir/expected" <<'PY'
import os, sys
for folder, _, names in os.walk(os.fsencode(sys.argv[1])):
    for name in names:
        if not name.isascii():
            os.rename(os.path.join(folder, name), os.path.join(folder, name.decode("gbk").encode()))
PY

# The update releases. v2 changes three of v1's 40 files (the large one among them), renames a
# file in its folder and adds one. Every file is at least 64 KiB in the zip, so no two needed
# entries are close enough to be fetched with the bytes between them.
upd="$dir/upd"
mkdir -p "$upd/v1" "$upd/v2" "$dir/www/upd/r0" "$dir/www/upd/r1"
python3 - "$upd" <<'PY'
import base64, os, random, sys
root = sys.argv[1]
rng = random.Random(23)
def write(release, name, data):
    path = os.path.join(root, release, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)
files = {"data/big.pak": rng.randbytes(2 << 20)}
for i in range(33):
    files["assets/%s/file%02d.bin" % ("abc"[i % 3], i)] = rng.randbytes(rng.randrange(70 << 10, 130 << 10))
for i in range(6):  # deflated text
    files["text/note%02d.txt" % i] = base64.encodebytes(rng.randbytes(rng.randrange(80 << 10, 120 << 10)))
for name, data in files.items():
    write("v1", name, data)
files["data/big.pak"] = rng.randbytes(2 << 20)
files["assets/b/file13.bin"] = rng.randbytes(100 << 10)
files["text/note03.txt"] = base64.encodebytes(rng.randbytes(100 << 10))
files["assets/c/file29-renamed.bin"] = files.pop("assets/c/file29.bin")
files["text/note99.txt"] = base64.encodebytes(rng.randbytes(90 << 10))
for name, data in files.items():
    write("v2", name, data)
PY
for v in v1 v2; do
  (cd "$upd/$v" && find . -type f | sort | zip -q -n .pak:.bin "$dir/www/upd/$v.zip" -@)
  python3 "$make_manifest" "$dir/www/upd/$v.zip" >"$upd/$v.sha256"
done
for r in r0 r1; do
  ln -s ../v2.zip ../v2.zip.manifest "$dir/www/upd/$r/"
done
rm -rf "$upd/v1" "$upd/v2"
unzip -q "$dir/www/upd/v1.zip" -d "$upd/v1"
cp -r "$upd/v1" "$upd/expected"
unzip -q -o "$dir/www/upd/v2.zip" -d "$upd/expected"
python3 - "$dir/www/upd/v1.zip.manifest" "$dir/www/upd/v2.zip.manifest" >"$upd/needed.txt" <<'PY'
import sys
def entries(path):
    lines = open(path, "rb").read().split(b"\r\n")
    return {f[12]: f for f in (line.split(b" ", 12) for line in lines) if f[0] == b"entry"}
old, new = entries(sys.argv[1]), entries(sys.argv[2])
print(sum(int(f[8]) for name, f in new.items() if name not in old or old[name][11] != f[11]))
PY

# A file large enough to come over several connections.
mkdir -p "$dir/www/seg"
head -c 41943040 /dev/urandom >"$dir/www/seg/big.bin"
sha256sum "$dir/www/seg/big.bin" | cut -d' ' -f1 | tr -d '\n' >"$dir/seg.sha256"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$dir/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
  access_log $dir/nginx.log;
  client_body_temp_path $dir;
  proxy_temp_path $dir;
  fastcgi_temp_path $dir;
  uwsgi_temp_path $dir;
  scgi_temp_path $dir;
  types { application/zip zip; }
  log_format upd '\$uri \$bytes_sent \$body_bytes_sent';
  log_format seg '\$msec \$request_time \$status \$body_bytes_sent';
  server {
    listen 127.0.0.1:$port;
    root $dir/www;
    limit_rate 1m;
    location /seg/ {
      access_log $dir/seg.log seg;
    }
    location /upd/ {
      limit_rate 0;
      access_log $dir/upd/upd.log upd;
    }
    location /upd/r0/ {
      limit_rate 0;
      max_ranges 0;
      access_log $dir/upd/upd.log upd;
    }
    location /upd/r1/ {
      limit_rate 0;
      max_ranges 1;
      access_log $dir/upd/upd.log upd;
    }
  }
}
CONF
/usr/sbin/nginx -c "$dir/nginx.conf" -p "$dir" &
nginx_pid=$!
for _ in $(seq 1 100); do
  curl -sf -o /dev/null "http://127.0.0.1:$port/pkg.zip.manifest" && break
  sleep 0.1
done
curl -sf -o /dev/null "http://127.0.0.1:$port/pkg.zip.manifest" || { echo "nginx did not start" >&2; exit 1; }
export UPDATER_NGINX_PORT=$port
export UPDATER_PACKAGE_DIR=$dir
"$@"
