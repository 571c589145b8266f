#!/usr/bin/env bash
# Command two: installs what is missing, builds, and runs the suite. With no argument, every
# stage in this order (what CI runs); with names, those stages alone, each in its own build:
#   lint     the clang-format check, the layering check, and clang-tidy over the sources (a
#            configured build is all it needs: the GCC Release tree's, not built)
#   build    the Release build a packager makes, with GCC: every test, Valgrind's included
#            (memcheck finds errors and leaks without debug information)
#   clang    the same build with clang: every test but those labelled slow, which the build
#            stage has run (Valgrind, the installed trees, the GStreamer element)
#   asan     every test again under AddressSanitizer + UndefinedBehaviorSanitizer, the
#            GStreamer element's included (the Valgrind ones are not built there)
#   tsan     the concurrency tests under ThreadSanitizer
#   package  the Debian packages of the GCC Release build, checked by scripts/package.sh
#   fuzz     each fuzz harness for a short bounded time
# `scripts/test.sh quick` is for day-to-day work: it builds build/ (RelWithDebInfo) and runs
# the tests not labelled slow. Every build treats warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=(lint build clang asan tsan package fuzz)
(($#)) || set -- "${stages[@]}"
for stage; do
  case " ${stages[*]} quick " in
  *" $stage "*) ;;
  *)
    echo "usage: scripts/test.sh [quick | STAGE...]; stages: ${stages[*]}" >&2
    exit 64
    ;;
  esac
done
scripts/install-deps.sh
jobs=${KESTREL_JOBS:-2}
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
# Every ctest run's closing line is kept, for one total at the end.
run_ctest() { ctest "$@" 2>&1 | tee -a "$summary"; }

# What a packager builds: every target at -O3, installed under /usr.
configure_release() { # DIR COMPILER
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$2" \
    -DKESTREL_WERROR=ON -DKESTREL_BUILD_BENCH=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
}

stage_lint() {
  echo "== format"
  git ls-files -co --exclude-standard -- '*.h' '*.cpp' | xargs clang-format --dry-run -Werror
  echo "== layering"
  python3 scripts/check-layers.py
  echo "== clang-tidy"
  configure_release build-release-gcc g++
  scripts/tidy.sh build-release-gcc
}

stage_build() {
  echo "== release build with g++"
  configure_release build-release-gcc g++
  cmake --build build-release-gcc -j "$jobs"
  run_ctest --test-dir build-release-gcc --output-on-failure -j "$jobs"
}

stage_clang() {
  echo "== release build with clang++"
  configure_release build-release-clang clang++
  cmake --build build-release-clang -j "$jobs"
  run_ctest --test-dir build-release-clang --output-on-failure -j "$jobs" -LE slow
}

stage_asan() {
  echo "== address and undefined-behaviour sanitizers"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DKESTREL_SANITIZE=address,undefined -DKESTREL_WERROR=ON >/dev/null
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1 run_ctest --test-dir build-asan --output-on-failure -j "$jobs"
}

stage_tsan() {
  echo "== thread sanitizer (concurrency tests)"
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=thread \
    -DKESTREL_BUILD_TOOLS=ON -DKESTREL_WERROR=ON >/dev/null
  cmake --build build-tsan -j "$jobs" --target kestrel_sami kestrel_unit_tests \
    kestrel_host_tests kestrel_tool_tests
  run_ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R Concurrency
}

stage_package() {
  echo "== Debian package"
  # A build configured with the default prefix, never built: cpack must refuse it with a
  # clear message before it installs anything.
  cmake -S . -B build-default-prefix -G Ninja -DKESTREL_BUILD_TESTS=OFF >/dev/null
  configure_release build-release-gcc g++
  scripts/package.sh build-release-gcc build-default-prefix
}

stage_fuzz() {
  if [ -f fuzz/CMakeLists.txt ]; then
    echo "== fuzz harnesses (short runs from the seed corpora)"
    scripts/fuzz.sh short
  fi
}

stage_quick() {
  echo "== quick: build/ and the tests not labelled slow"
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_WERROR=ON >/dev/null
  cmake --build build -j "$jobs"
  run_ctest --test-dir build --output-on-failure -j "$jobs" -LE slow
}

for stage; do
  start=$SECONDS
  "stage_$stage"
  echo "-- $stage: $((SECONDS - start)) s"
done

# One line for everything run: every ctest entry of every build.
total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$summary" |
  awk '{failed += $1; all += $2} END {print all - failed, failed + 0}')
read -r passed failed <<<"$total"
echo "suite: $passed passed, $failed failed"
