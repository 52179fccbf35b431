#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine (with a virtual
# X server for the tests that open windows). Ends with CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
BUILD_DIR="$build" "$root/scripts/build.sh"
source "$root/scripts/virtual_display.sh"
start_virtual_display "$build/wineprefix"
trap 'stop_virtual_display "$build/wineprefix"' EXIT
# The first start of a Wine prefix takes a while; do it once before the timed tests.
"$build/wine-run.sh" wineboot -i >/dev/null 2>&1 || true
cd "$build"
ctest --output-on-failure -j 2
