#!/usr/bin/env bash
# Builds the benchmarks optimised, without sanitizers, and prints figures.
#   scripts/bench.sh [BUILD_DIR]      (default: build-bench)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
"$here/scripts/bootstrap.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DORLO_SANITIZE=OFF -DORLO_WITH_WINDOWS=OFF >/dev/null
cmake --build "$build" --target package_bench
"$build/bench/package_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
