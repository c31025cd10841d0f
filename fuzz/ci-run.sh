#!/usr/bin/env bash
# Builds both fuzz harnesses with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a short fixed time over the
# kept corpus (every past finding is in it).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEN_FUZZ=ON -DKORVEN_SANITIZE=ON \
  -DKORVEN_TESTS=OFF >/dev/null
cmake --build build-fuzz -j 2 --target deck_fuzzer field_fuzzer
for h in deck field; do
  work="build-fuzz/corpus-$h"
  mkdir -p "$work"
  echo "fuzzing $h for ${seconds}s"
  dict=()
  [ -f "fuzz/$h.dict" ] && dict=(-dict="$PWD/fuzz/$h.dict")
  "$PWD/build-fuzz/fuzz/${h}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 "${dict[@]}" \
    -print_final_stats=1 "$PWD/$work" "$PWD/fuzz/corpus/$h" 2>&1 | tail -n 12
done
