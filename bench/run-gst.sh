#!/usr/bin/env bash
# What the GStreamer element costs a player: the time from PLAYING to the first subtitle buffer
# and to the end of the stream, against subparse, for the corpus's real 204 KB file and the
# benchmarks' realistic 10 MB document, beside the plug-in's own open (bench/gst-element.py).
# Usage: bench/run-gst.sh [--rounds N] [--corpus DIR] [--element NAME]
# BUILD_DIR (default build-bench-gst) is a release build, kept between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench-gst}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_BENCH=ON \
  -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_GST=ON >/dev/null
cmake --build "$build" -j "${KESTREL_JOBS:-2}" --target WriteDocument SamiOpenBench gstkestrelsami \
  >&2
# GStreamer's Python bindings belong to the system's interpreter.
python=python3
"$python" -c "import gi" 2>/dev/null || python=/usr/bin/python3
exec "$python" bench/gst-element.py "$build" "$@"
