#!/usr/bin/env bash
# Runs a test command beside a drive of 1 MiB: a tmpfs mounted for this run, which needs root.
# The command finds the drive's folder as a Windows path (Wine's Z: is /) in
# UPDATER_SMALL_DRIVE. Without the rights to mount, the run is reported as skipped (77).
set -euo pipefail
dir=$(mktemp -d)
mounted=""
cleanup() {
  if [ -n "$mounted" ]; then umount "$dir" || true; fi
  rmdir "$dir"
}
trap cleanup EXIT
if ! mount -t tmpfs -o size=1m updater-small-drive "$dir" 2>/dev/null; then
  echo "skipped: mounting a small tmpfs needs root"
  exit 77
fi
mounted=1
export UPDATER_SMALL_DRIVE="Z:${dir//\//\\}"
status=0
"$@" || status=$?
exit "$status"
