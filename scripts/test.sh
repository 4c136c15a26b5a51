#!/usr/bin/env bash
# The test command: sets up what is missing, then runs the README's commands
# as it gives them, so that none of them can stop working unnoticed:
#   1. cmake --preset default, cmake --build --preset default and
#      ctest --preset default: every test, native and under Wine (build/);
#   2. scripts/demo.sh: an install and a removal in a scratch prefix;
#   3. scripts/bench.sh, one short pass (one Wine round, one repetition;
#      build-bench/), its report written to build/benchmarks-check.md, not
#      to docs/.
# The release command's documented forms run in the suite
# (release.signed_release).
#   scripts/test.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 0 ] || { echo "test: error: no arguments (it builds into build/, as the presets say)" >&2; exit 2; }
cd "$here"

"$here/scripts/bootstrap.sh"

cmake --preset default >/dev/null
cmake --build --preset default

# One virtual display for every test that opens a window.
source "$here/scripts/display.sh"
start_display
trap 'stop_wine_and_display "$here/build"' EXIT

ctest --preset default

# The other two commands, each with its output in a log of the build tree.
step() {  # step NAME COMMAND...
  local log=$here/build/$1.log
  echo "== $1: ${*:2}"
  if "${@:2}" >"$log" 2>&1; then
    echo "== $1: passed ($log)"
  else
    tail -n 40 "$log"
    echo "== $1: FAILED ($log)"
    return 1
  fi
}
step demo bash scripts/demo.sh
step bench env ORLO_BENCH_ROUNDS=1 ORLO_BENCH_REPS=1 ORLO_BENCH_DOC="$here/build/benchmarks-check.md" \
  bash scripts/bench.sh
