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
source "$here/scripts/display.sh"
start_display
trap 'stop_wine_and_display "$build"' EXIT

cd "$build"
ctest --output-on-failure -j2 --timeout 600
