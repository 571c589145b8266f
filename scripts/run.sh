#!/usr/bin/env bash
# Command one: installs what is missing, builds everything, and plays a bundled example
# through the plug-in with the host tool, as an engine would receive it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "${KESTREL_JOBS:-2}"
build/bin/kestrel-sami play "${1:-examples/two-languages.smi}"
