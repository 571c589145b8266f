#!/usr/bin/env bash
# Builds the Debian packages from a configured build (default build-release-gcc, configured with
# CMAKE_INSTALL_PREFIX=/usr) and checks them as a user meets them: lintian reports no error on
# any, the manual page renders without warnings, only the element's package depends on
# GStreamer or Pango, no file lies outside /usr, in /usr/local or in two packages, and, the
# packages unpacked together, the tool plays an example and GStreamer finds the element, which
# plays one too. Prints the packages and their dependencies.
#
# A second build, configured for another prefix (the default /usr/local), is checked only if
# it is there, and without building it: cpack must refuse it, saying how to configure, since
# the packages are laid out under /usr and that build's binaries look for the plug-in elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release-gcc}
refused=${2:-}
packages=(libkestrel-sami kestrel-sami libkestrel-sami-dev)
element_built=
if [ -e "$build/lib/gstreamer-1.0/libgstkestrelsami.so" ]; then
  element_built=1
  packages+=(gstreamer1.0-kestrel-sami)
fi

fail() { echo "package: $*"; exit 1; }

if [ -n "$refused" ] && [ -d "$refused" ]; then
  if out=$(cd "$refused" && cpack -G DEB 2>&1); then
    fail "cpack packaged $refused, configured for another prefix than /usr"
  fi
  grep -q -- '-DCMAKE_INSTALL_PREFIX=/usr' <<<"$out" ||
    { echo "$out"; fail "cpack refused $refused without saying how to configure"; }
  ! ls "$refused"/*.deb >/dev/null 2>&1 || fail "cpack left packages in $refused"
  echo "package: cpack refuses $refused (configured for another prefix), saying how to configure"
fi

cmake --build "$build" -j "${KESTREL_JOBS:-2}"
for p in "${packages[@]}"; do rm -f "$build/${p}"_*.deb; done
(cd "$build" && cpack -G DEB >/dev/null)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
for p in "${packages[@]}"; do
  deb=$(ls "$build/${p}"_*.deb 2>/dev/null) || fail "cpack made no $p package"
  echo "== $deb"
  dpkg-deb -f "$deb" Package Version Section Depends Suggests
  # lintian's errors fail; its warnings are shown. (Running it as root is what CI does.)
  lintian --fail-on error "$deb"
  depends=$(dpkg-deb -f "$deb" Pre-Depends Depends Recommends)
  if [ "$p" != gstreamer1.0-kestrel-sami ] && grep -Eqi 'gstreamer|pango' <<<"$depends"; then
    fail "$p depends on GStreamer or Pango: only the element's package may"
  fi
  paths=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for need in "./usr/share/doc/$p/copyright" "./usr/share/doc/$p/changelog.gz"; do
    grep -qxF "$need" <<<"$paths" || fail "$p lacks ${need#./}"
  done
  stray=$(awk '$0 != "./" && (!/^\.\/usr\// || /^\.\/usr\/local(\/|$)/)' <<<"$paths")
  [ -z "$stray" ] || fail "$p has paths outside /usr or in /usr/local: $stray"
  grep -v '/$' <<<"$paths" >>"$scratch/files"
  dpkg-deb -x "$deb" "$root"
done
# dpkg refuses to install two packages that hold the same file.
shared=$(sort "$scratch/files" | uniq -d)
[ -z "$shared" ] || fail "files in more than one package: $shared"

warnings=$(man --warnings -l "$build/kestrel-sami.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings:"$'\n'"$warnings"

# Everything below runs on the unpacked files alone: what each finds, it finds relative to itself.
clean=(env -u LD_LIBRARY_PATH -u KESTREL_SAMI_PLUGIN -u KESTREL_LOG)
example=$root/usr/share/kestrel-sami/examples/two-languages.smi
"${clean[@]}" "$root/usr/bin/kestrel-sami" --version
"${clean[@]}" LC_ALL=C "$root/usr/bin/kestrel-sami" play "$example" --lang en >"$scratch/played"
grep -q . "$scratch/played" || fail "the unpacked tool played nothing"
if [ -n "$element_built" ]; then
  element=$(find "$root/usr/lib" -name libgstkestrelsami.so -path '*/gstreamer-1.0/*')
  gst=("${clean[@]}" GST_PLUGIN_PATH="$(dirname "$element")" GST_REGISTRY="$scratch/registry.bin")
  # Its file name shows that GStreamer found the unpacked element, not an installed one.
  "${gst[@]}" gst-inspect-1.0 kestrelsamiparse >"$scratch/inspected" ||
    fail "gst-inspect-1.0 does not find kestrelsamiparse in the unpacked element"
  grep -qF "$element" "$scratch/inspected" ||
    fail "gst-inspect-1.0 found another kestrelsamiparse: $(grep -m1 Filename "$scratch/inspected")"
  "${gst[@]}" gst-launch-1.0 -q filesrc location="$example" ! kestrelsamiparse \
    ! fakesink sync=false || fail "the unpacked element does not play $example"
fi
echo "package: ${#packages[@]} packages lintian clean, manual page clean, GStreamer and Pango in" \
  "the element's dependencies alone, all under /usr; unpacked, the tool plays an example" \
  "${element_built:+and the element, found by gst-inspect-1.0, plays one}"
