#!/usr/bin/env bash
# clang-tidy over the sources of the plug-in, the host library, the tools and the GStreamer
# element, with the project's .clang-tidy; every finding fails.
# Usage: scripts/tidy.sh [BUILD_DIR]  (a configured build: its compile_commands.json names the
# files and their flags; default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
root=$(pwd)
run-clang-tidy-14 -p "$build" -extra-arg=-Wno-unknown-warning-option -j "${KESTREL_JOBS:-2}" -quiet "^$root/(src|host|tools|gst)/" \
  >"$build/clang-tidy.log" 2>&1 || {
  grep -E 'warning:|error:' "$build/clang-tidy.log" | sort -u
  echo "clang-tidy: findings above (whole log: $build/clang-tidy.log)"
  exit 1
}
echo "clang-tidy: src/, host/, tools/ and gst/ clean"
