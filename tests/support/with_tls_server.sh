#!/usr/bin/env bash
# Runs a test command beside a TLS server on loopback (tls_file_server.py) for "localhost".
#   with_tls_server.sh COMMAND...
#     the server's certificate is a throw-away self-signed one that nobody trusts;
#   with_tls_server.sh --trusted EMULATOR TRUST_TOOL COMMAND...
#     the certificate is signed by a throw-away certificate authority that TRUST_TOOL (run
#     through EMULATOR) adds to the Wine prefix's machine "Root" store for the run and takes
#     out again afterwards; UPDATER_TLS_TRUSTED=1 tells the command so.
# The command learns the port from UPDATER_TLS_PORT; the server serves the files of
# UPDATER_TLS_ROOT (empty at start) and answers /redirect?to=URL with a redirect to URL.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
trusted=""
if [ "${1:-}" = "--trusted" ]; then
  emulator=$2
  trust_tool=$3
  trusted=1
  shift 3
fi
dir=$(mktemp -d)
server_pid=""
ca_added=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$ca_added" ]; then
    "$emulator" "$trust_tool" remove "$dir/ca.der" >/dev/null 2>&1 || echo "could not remove the test CA" >&2
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
quiet() { "$@" >/dev/null 2>&1; }
if [ -n "$trusted" ]; then
  quiet openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
    -subj "/CN=updater test CA $$" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" -keyout "$dir/ca-key.pem" -out "$dir/ca.pem"
  quiet openssl x509 -in "$dir/ca.pem" -outform DER -out "$dir/ca.der"
  quiet openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=localhost \
    -keyout "$dir/key.pem" -out "$dir/server.csr"
  printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$dir/server.ext"
  quiet openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca-key.pem" \
    -CAcreateserial -days 1 -extfile "$dir/server.ext" -out "$dir/cert.pem"
  "$emulator" "$trust_tool" add "$dir/ca.der"
  ca_added=1
  export UPDATER_TLS_TRUSTED=1
else
  quiet openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=localhost \
    -addext "subjectAltName=DNS:localhost" -keyout "$dir/key.pem" -out "$dir/cert.pem"
fi
mkdir "$dir/www"
python3 "$here/tls_file_server.py" "$dir/www" "$dir/cert.pem" "$dir/key.pem" "$dir/port" &
server_pid=$!
for _ in $(seq 1 100); do
  [ -s "$dir/port" ] && break
  sleep 0.1
done
[ -s "$dir/port" ] || { echo "the TLS server did not start" >&2; exit 1; }
export UPDATER_TLS_PORT="$(cat "$dir/port")"
export UPDATER_TLS_ROOT="$dir/www"
status=0
"$@" || status=$?
exit "$status"
