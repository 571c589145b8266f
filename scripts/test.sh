#!/usr/bin/env bash
# Command two: installs what is missing, builds, and runs the whole suite: the plain build
# with clang-tidy over it, the Release builds a packager makes (GCC and clang), again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests under ThreadSanitizer,
# and each fuzz harness for a short bounded time. Every build treats warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=${KESTREL_JOBS:-2}
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
# Every ctest run's closing line is kept, for one total at the end.
run_ctest() { ctest "$@" 2>&1 | tee -a "$summary"; }

echo "== format"
git ls-files -co --exclude-standard -- '*.h' '*.cpp' | xargs clang-format --dry-run -Werror

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
run_ctest --test-dir build --output-on-failure -j "$jobs"

echo "== clang-tidy"
scripts/tidy.sh build

# What a packager builds: every target at -O3, with each compiler. Valgrind has had its run
# in the plain build.
for pair in g++:gcc clang++:clang; do
  compiler=${pair%%:*}
  echo "== release build with $compiler"
  dir=build-release-${pair#*:}
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=$compiler \
    -DKESTREL_WERROR=ON -DKESTREL_BUILD_BENCH=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  cmake --build "$dir" -j "$jobs"
  run_ctest --test-dir "$dir" --output-on-failure -j "$jobs" -LE valgrind
done

echo "== Debian package"
# build was configured with the default prefix: cpack must refuse it with a clear message.
scripts/package.sh build-release-gcc build

echo "== address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKESTREL_SANITIZE=address,undefined -DKESTREL_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 run_ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== thread sanitizer (concurrency tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=thread \
  -DKESTREL_BUILD_TOOLS=ON -DKESTREL_WERROR=ON >/dev/null
cmake --build build-tsan -j "$jobs" --target kestrel_sami kestrel_unit_tests kestrel_host_tests \
  kestrel_tool_tests
run_ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R Concurrency

if [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzz harnesses (short runs from the seed corpora)"
  scripts/fuzz.sh short
fi

# One line for the whole suite: every ctest entry of the three builds.
total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$summary" |
  awk '{failed += $1; all += $2} END {print all - failed, failed}')
set -- $total
echo "suite: $1 passed, $2 failed"
