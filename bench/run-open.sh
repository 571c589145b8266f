#!/usr/bin/env bash
# Builds the open benchmark in release mode and prints its results and the ratio table.
# Usage: bench/run-open.sh [--quick] [Google Benchmark options]
#   --quick leaves out the 100 MB document and the peak memory measurement.
# BUILD_DIR (default build-bench) is the build directory, kept between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_BENCH=ON \
  -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j "${KESTREL_JOBS:-2}" --target SamiOpenBench
exec "$build/bin/SamiOpenBench" --benchmark_color=false "$@"
