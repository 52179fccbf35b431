#!/usr/bin/env bash
# Runs a test command beside a TLS server on loopback whose certificate nobody trusts: a
# throw-away self-signed one for "localhost", made for this run. The command learns the port
# from UPDATER_TLS_PORT; the server serves the files of UPDATER_TLS_ROOT (empty at start).
set -euo pipefail
dir=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=localhost \
  -addext "subjectAltName=DNS:localhost" -keyout "$dir/key.pem" -out "$dir/cert.pem" >/dev/null 2>&1
mkdir "$dir/www"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
(cd "$dir/www" && exec openssl s_server -quiet -WWW -accept "127.0.0.1:$port" -cert ../cert.pem -key ../key.pem) \
  >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 1 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
  sleep 0.1
done
export UPDATER_TLS_PORT="$port"
export UPDATER_TLS_ROOT="$dir/www"
status=0
"$@" || status=$?
exit "$status"
