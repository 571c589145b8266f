#!/usr/bin/env bash
# Command one: installs what is missing, builds everything, and plays a bundled example
# through the plug-in.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "${KESTREL_JOBS:-2}"
if [ -x build/bin/kestrel-sami ]; then
  build/bin/kestrel-sami play "${1:-examples/two-languages.smi}"
else
  build/bin/kestrel-identity build/lib/libkestrel_sami.so
fi
