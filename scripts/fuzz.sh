#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each from its seeds and committed corpus.
#   scripts/fuzz.sh short          about ten seconds a harness (the test suite runs this)
#   scripts/fuzz.sh long [SECONDS] each harness for SECONDS (default 600), then merges what
#                                  it found into fuzz/corpus/<harness>, minimised
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-short}
seconds=10
[ "$mode" = long ] && seconds=${2:-600}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_BUILD_FUZZ=ON -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_TOOLS=OFF \
  -DKESTREL_SANITIZE=address,undefined -DKESTREL_WERROR=ON >/dev/null
harnesses=()
for source in fuzz/*Fuzz.cpp; do harnesses+=("$(basename "$source" .cpp)"); done
cmake --build build-fuzz -j "${KESTREL_JOBS:-2}" --target "${harnesses[@]}"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
status=0
for harness in "${harnesses[@]}"; do
  name=$(echo "${harness%Fuzz}" | tr 'A-Z' 'a-z')
  work=$(mktemp -d)
  mkdir -p "$work/corpus" "fuzz/corpus/$name"
  cp -r "fuzz/seeds/$name/." "fuzz/corpus/$name/." "$work/corpus/" 2>/dev/null || true
  echo "-- $harness for ${seconds}s"
  if ! build-fuzz/bin/"$harness" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
      -max_len=65536 -dict=fuzz/sami.dict -artifact_prefix="$work/" -print_final_stats=1 \
      "$work/corpus" >"$work/log" 2>&1; then
    echo "$harness found a failure:"; tail -40 "$work/log"; ls "$work"/crash-* "$work"/timeout-* \
      "$work"/leak-* 2>/dev/null || true
    status=1
    continue
  fi
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$work/log" | tr '\n' ' '; echo
  if [ "$mode" = long ]; then
    build-fuzz/bin/"$harness" -merge=1 "fuzz/corpus/$name" "$work/corpus" >/dev/null 2>&1
  fi
  rm -rf "$work"
done
exit $status
