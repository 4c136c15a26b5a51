#!/usr/bin/env bash
# The test command: sets up what is missing, then runs the README's commands
# as it gives them, so that none of them can stop working unnoticed:
#   1. the README's preset lines (cmake --preset default, its build, ctest
#      --preset default), read from README.md and run as written: every
#      test, native and under Wine (build/);
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

# One virtual display for every test that opens a window.
source "$here/scripts/display.sh"
start_display
trap 'stop_wine_and_display "$here/build"' EXIT

mapfile -t lines < <(sed -n '/^```sh$/,/^```$/{/^\(cmake\|ctest\) .*--preset /p}' README.md)
[ ${#lines[@]} -ge 3 ] || { echo "test: error: README.md shows no cmake and ctest preset lines to run" >&2; exit 1; }
for line in "${lines[@]}"; do
  echo "== $line"
  bash -euo pipefail -c "$line"
done

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
