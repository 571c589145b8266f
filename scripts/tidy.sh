#!/usr/bin/env bash
# clang-tidy over the plug-in's, the tools' and the GStreamer element's sources with the
# project's .clang-tidy; every finding fails. Usage: scripts/tidy.sh [BUILD_DIR]  (a configured
# build: its compile_commands.json names the files and their flags; default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
root=$(pwd)
run-clang-tidy-14 -p "$build" -extra-arg=-Wno-unknown-warning-option -j "${KESTREL_JOBS:-2}" -quiet "^$root/(src|tools|gst)/" \
  >"$build/clang-tidy.log" 2>&1 || {
  grep -E 'warning:|error:' "$build/clang-tidy.log" | sort -u
  echo "clang-tidy: findings above (whole log: $build/clang-tidy.log)"
  exit 1
}
echo "clang-tidy: src/, tools/ and gst/ clean"
