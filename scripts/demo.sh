#!/usr/bin/env bash
# Sets up what is missing, builds OrloCastSetup.exe and shows what it carries.
#   scripts/demo.sh [BUILD_DIR]      (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}

"$here/scripts/bootstrap.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build"

exe="$build/windows/app/OrloCastSetup.exe"
pack="$build/tools/orlo-pack"
echo
echo "== $exe ($(stat -c %s "$exe") bytes)"
"$pack" inspect "$exe"
"$pack" verify "$exe"
