#!/usr/bin/env bash
# Sets up what is missing, builds both configurations and runs every test.
#   scripts/test.sh [BUILD_DIR]      (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}

"$here/scripts/bootstrap.sh"

cmake -S "$here" --preset default -B "$build" >/dev/null
cmake --build "$build"

# One virtual display for every test that opens a window.
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
  done
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
fi
stop_services() {
  for prefix in "$build"/windows/wine/win32 "$build"/windows/wine/win64; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap stop_services EXIT

cd "$build"
ctest --output-on-failure -j2 --timeout 600
