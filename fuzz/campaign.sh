#!/usr/bin/env bash
# A long fuzzing campaign: both harnesses at once, one per core, for
# MINUTES minutes (default 30). Findings (crash-, leak-, timeout- files) land
# in build-fuzz/artifacts/; once fixed, each goes into fuzz/corpus/<harness>/
# as a regression case. The logs end with libFuzzer's execution counts.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${MINUTES:-30}"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEN_FUZZ=ON -DKORVEN_SANITIZE=ON \
  -DKORVEN_TESTS=OFF >/dev/null
cmake --build build-fuzz -j 2 --target deck_fuzzer field_fuzzer
mkdir -p build-fuzz/artifacts
for h in deck field; do
  mkdir -p "build-fuzz/corpus-$h"
  dict=()
  [ -f "fuzz/$h.dict" ] && dict=(-dict="$PWD/fuzz/$h.dict")
  "$PWD/build-fuzz/fuzz/${h}_fuzzer" -max_total_time=$((minutes * 60)) -timeout=10 -rss_limit_mb=4096 \
    "${dict[@]}" -artifact_prefix="$PWD/build-fuzz/artifacts/$h-" -print_final_stats=1 \
    "$PWD/build-fuzz/corpus-$h" "$PWD/fuzz/corpus/$h" > "build-fuzz/campaign-$h.log" 2>&1 &
done
wait
for h in deck field; do
  echo "== $h"
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb|ERROR|SUMMARY' "build-fuzz/campaign-$h.log" || true
done
ls build-fuzz/artifacts
