#!/bin/sh
# The layering check must refuse each kind of break it exists for: an include arrow that
# layers.txt does not allow, an OS header or call outside the OS layer, and rules with a cycle.
# Each case copies the checked folders, breaks one thing and expects the check to fail.
set -eu
root=$1
check="$root/scripts/check-layers.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
expect_refused() { # name, a shell command run inside the copy, what the check must report
  rm -rf "$work/tree" && mkdir "$work/tree"
  cp -r "$root/src" "$root/include" "$root/host" "$root/tools" "$root/gst" "$root/layers.txt" \
    "$work/tree/"
  (cd "$work/tree" && eval "$2")
  if python3 "$check" "$work/tree" >"$work/out" 2>&1 || ! grep -q "$3" "$work/out"; then
    echo "not refused: $1"; cat "$work/out"; failures=$((failures + 1))
  else
    echo "refused: $1: $(grep "$3" "$work/out" | head -1)"
  fi
}
expect_refused "the OS layer including text/" \
  'echo "#include \"text/Utf.h\"" >> src/platform/SharedLibrary.h' \
  'platform/SharedLibrary.h.*platform -> text'
expect_refused "the boundary headers including src/" \
  'echo "#include \"engine/Logger.h\"" >> include/kestrel/Result.h' \
  'kestrel/Result.h.*kestrel -> engine'
expect_refused "the generic container including the SAMI container" \
  'echo "#include \"plugin/SAMIContainer.h\"" >> src/container/File.h' \
  'container/File.h.*container -> plugin'
expect_refused "the host library including the plug-in's code" \
  'echo "#include \"sami/Entities.h\"" >> host/Host.h' \
  'host/Host.h.*sami/Entities.h'
expect_refused "the host library including the tool" \
  'echo "#include \"kestrel-sami/Options.h\"" >> host/Session.h' \
  'host/Session.h.*host -> tools/kestrel-sami'
expect_refused "the element including the tool" \
  'echo "#include \"kestrel-sami/Options.h\"" >> gst/Document.h' \
  'gst/Document.h.*gst -> tools/kestrel-sami'
expect_refused "the element including the plug-in's code" \
  'echo "#include \"container/File.h\"" >> gst/PangoMarkup.h' \
  'gst/PangoMarkup.h.*gst -> container'
expect_refused "dlopen in the element outside its OS file" \
  'printf "void* g() { return dlopen(0, 0); }\n" >> gst/PangoMarkup.cpp' \
  'gst/PangoMarkup.cpp.*(dlopen)'
expect_refused "an OS header outside the OS layer" \
  'echo "#include <unistd.h>" >> src/sami/Entities.cpp' \
  'sami/Entities.cpp.*<unistd.h>'
expect_refused "a global OS call outside the OS layer" \
  'printf "void f() { ::close(3); }\n" >> src/sami/Entities.cpp' \
  'sami/Entities.cpp.*(close)'
expect_refused "dlopen outside the OS layer" \
  'printf "void* g() { return dlopen(0, 0); }\n" >> src/engine/Logger.cpp' \
  'engine/Logger.cpp.*(dlopen)'
expect_refused "arrows that make a cycle" 'echo "engine -> sami" >> layers.txt && sed -i "/^engine  /d" layers.txt' \
  'make a cycle'
expect_refused "a folder with no rule" 'mkdir src/extra && echo "int x;" > src/extra/X.cpp' \
  'src/extra/X.cpp.*no line'
[ "$failures" -eq 0 ]
