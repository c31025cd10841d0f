#!/usr/bin/env bash
# Fuzzes with the three harnesses at once, for FUZZ_SECONDS seconds
# each (default 1920, a 32-minute campaign), over the kept corpus in
# fuzz/corpus/<harness>/ and a working corpus in build-fuzz/. Findings
# (crash-, leak-, timeout- files) land in build-fuzz/artifacts/; once fixed,
# each goes into fuzz/corpus/<harness>/ as a regression case. Exits non-zero
# when either harness reports a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-1920}"
# clang and its fuzzing run-times, on top of what the build needs
tools/install-packages.sh --list fuzz
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEN_FUZZ=ON -DKORVEN_SANITIZE=ON -DKORVEN_WERROR=ON \
  -DKORVEN_TESTS=OFF >/dev/null
cmake --build build-fuzz -j 2 --target deck_fuzzer field_fuzzer kit_fuzzer
mkdir -p build-fuzz/artifacts
pids=()
for h in deck field kit; do
  mkdir -p "build-fuzz/corpus-$h"
  dict=()
  [ -f "fuzz/$h.dict" ] && dict=(-dict="$PWD/fuzz/$h.dict")
  "$PWD/build-fuzz/fuzz/${h}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    "${dict[@]}" -artifact_prefix="$PWD/build-fuzz/artifacts/$h-" -print_final_stats=1 \
    "$PWD/build-fuzz/corpus-$h" "$PWD/fuzz/corpus/$h" > "build-fuzz/fuzz-$h.log" 2>&1 &
  pids+=($!)
done
status=0
for p in "${pids[@]}"; do wait "$p" || status=1; done
for h in deck field kit; do
  echo "== $h, ${seconds}s"
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb|ERROR|SUMMARY|Test unit written' "build-fuzz/fuzz-$h.log" || true
done
exit "$status"
