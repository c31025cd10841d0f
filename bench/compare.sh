#!/usr/bin/env bash
# Builds the benchmarks (make bench) and runs the record writer and the
# Fortran run-time baseline side by side on the same element-list records,
# then prints both throughputs and their ratio.
#
#   bench/compare.sh                   one million records, 3 timed passes each
#   RECORDS=200000 PASSES=5 bench/compare.sh
#   SKIP_BUILD=1 bench/compare.sh      use what build-bench already holds
#
# Both are timed on the wall clock, open to close of the file, values made
# beforehand. Processor time is shown too: on a busy machine it is the
# steadier of the two.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
records=${RECORDS:-1000000}
passes=${PASSES:-3}
target=${TARGET_RATIO:-5}
build="$root/build-bench"

if [[ -z "${SKIP_BUILD:-}" ]]; then
  mkdir -p "$build"
  make -C "$root" bench >"$build/make-bench.log" 2>&1 \
    || { tail -40 "$build/make-bench.log"; echo "make bench failed" >&2; exit 1; }
fi
korven_bin="$build/bench/korven_bench_records"
fortran_bin="$build/bench/element_records_fortran"
for b in "$korven_bin" "$fortran_bin"; do
  [[ -x "$b" ]] || { echo "missing $b: run make bench" >&2; exit 1; }
done

run_dir=$(mktemp -d "$build/compare.XXXXXX")
trap 'rm -rf "$run_dir"' EXIT

echo "== $records records of (4(2I3,F12.6)), $passes passes each, load $(cut -d' ' -f1-3 /proc/loadavg)"

echo "-- Fortran run-time (gfortran -O2)"
"$fortran_bin" "$records" "$run_dir/fortran.out" "$passes" | tee "$run_dir/fortran.txt"
f_field() { awk -v k="$1" '$1 == k { print $2 }' "$run_dir/fortran.txt"; }
f_rate=$(f_field records_per_second)
f_bytes=$(f_field bytes_per_second)
f_cpu=$(f_field mean_cpu_seconds)

echo "-- korven record writer"
KORVEN_BENCH_RECORDS=$records KORVEN_BENCH_PASSES=$passes KORVEN_BENCH_FILE="$run_dir/korven.out" \
  "$korven_bin" --benchmark_out="$run_dir/korven.json" --benchmark_out_format=json 2>"$run_dir/korven.err" \
  || { cat "$run_dir/korven.err" >&2; exit 1; }
k_field() {  # the first value of a key in the JSON report (one key a line)
  awk -v k="\"$1\":" '$1 == k { v = $2; sub(/,$/, "", v); print v; exit }' "$run_dir/korven.json"
}
k_rate=$(k_field items_per_second)
k_bytes=$(k_field bytes_per_second)
k_cpu_ms=$(k_field cpu_time)   # per pass, milliseconds

echo
awk -v fr="$f_rate" -v fb="$f_bytes" -v fc="$f_cpu" -v kr="$k_rate" -v kb="$k_bytes" -v kc="$k_cpu_ms" \
    -v n="$records" -v t="$target" 'BEGIN {
  fcr = n / fc; kcr = n / (kc / 1000)
  printf "%-26s %16s %14s %18s\n", "", "records/s", "MB/s", "records/s (cpu)"
  printf "%-26s %16.0f %14.1f %18.0f\n", "Fortran run-time", fr, fb / 1e6, fcr
  printf "%-26s %16.0f %14.1f %18.0f\n", "korven", kr, kb / 1e6, kcr
  printf "ratio korven / Fortran:    %.2fx (wall), %.2fx (cpu); target %sx: %s\n",
         kr / fr, kcr / fcr, t, (kr / fr >= t ? "met" : "NOT met")
}'
