#!/usr/bin/env bash
# What the GStreamer element costs: the time from pipeline start to the first subtitle buffer
# for the benchmarks' realistic 10 MB document, against subparse on the same file.
# Usage: bench/run-gst.sh [ROUNDS]   (BUILD_DIR, default build-bench-gst, is a release build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench-gst}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_BENCH=ON \
  -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_GST=ON >/dev/null
cmake --build "$build" -j "${KESTREL_JOBS:-2}" --target WriteDocument gstkestrelsami
document="$build/realistic-10mb.smi"
[ -e "$document" ] || "$build/bin/WriteDocument" realistic 10 "$document"
# GStreamer's Python bindings belong to the system's interpreter.
python=python3
"$python" -c "import gi" 2>/dev/null || python=/usr/bin/python3
exec "$python" bench/gst-first-buffer.py "$build" "$document" "${1:-9}"
