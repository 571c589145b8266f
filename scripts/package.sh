#!/usr/bin/env bash
# Builds the Debian package from a configured build (default build-release-gcc, configured with
# CMAKE_INSTALL_PREFIX=/usr), and checks it as a user would meet it: lintian reports no error,
# the manual page renders without warnings, and the tool extracted from the package alone plays
# an example. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release-gcc}
cmake --build "$build" -j "${KESTREL_JOBS:-2}"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/kestrel-sami_*.deb | head -1)
echo "package: $deb"
dpkg-deb -f "$deb" Package Version Depends

# lintian's errors fail; its warnings are shown. (Running it as root is what CI does.)
lintian --fail-on error "$deb"

warnings=$(man --warnings -l "$build/kestrel-sami.1" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "the manual page renders with warnings:"; echo "$warnings"; exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
for need in usr/bin/kestrel-sami usr/share/man/man1/kestrel-sami.1.gz; do
  [ -e "$scratch/$need" ] || { echo "the package lacks $need"; exit 1; }
done
env -u LD_LIBRARY_PATH "$scratch/usr/bin/kestrel-sami" --version
env -u LD_LIBRARY_PATH LC_ALL=C "$scratch/usr/bin/kestrel-sami" play \
  "$scratch/usr/share/kestrel-sami/examples/two-languages.smi" --lang en >"$scratch/played"
grep -q . "$scratch/played" || { echo "the packaged tool played nothing"; exit 1; }
# The GStreamer element, when the build has it, is in the package and finds the packaged plug-in.
element=$(dpkg-deb -c "$deb" | grep -o 'usr/lib/.*gstreamer-1.0/libgstkestrelsami.so' || true)
if [ -e "$build/lib/gstreamer-1.0/libgstkestrelsami.so" ]; then
  [ -n "$element" ] || { echo "the package lacks the GStreamer element"; exit 1; }
  GST_PLUGIN_PATH="$scratch/$(dirname "$element")" GST_REGISTRY="$scratch/registry.bin" \
    gst-launch-1.0 -q filesrc \
    location="$scratch/usr/share/kestrel-sami/examples/two-languages.smi" ! kestrelsamiparse \
    ! fakesink sync=false || { echo "the packaged element does not play an example"; exit 1; }
fi
echo "package: lintian clean, manual page clean, the extracted tool plays an example"
