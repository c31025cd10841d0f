#!/usr/bin/env bash
# Times a release korven on the largest problem the deck's fields allow
# (333 atoms, 999 coordinates, three mass sets, a U of 998 rows read once and
# reused once), then the same products with plain dense loops.
#
#   bench/largest_problem.sh            build (make bench), 5 timed runs
#   RUNS=10 SKIP_BUILD=1 bench/largest_problem.sh
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build="$root/build-bench"
runs=${RUNS:-5}
if [[ -z "${SKIP_BUILD:-}" ]]; then
  make -C "$root" bench >"$build.log" 2>&1 || { tail -40 "$build.log"; exit 1; }
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$root/tools/make_largest_deck.py" "$work/BIG.DAT"
echo "== largest problem: $(wc -l < "$work/BIG.DAT") cards, load $(cut -d' ' -f1-3 /proc/loadavg)"
TIMEFORMAT=%R
times=()
for ((i = 1; i <= runs; i++)); do
  rm -f "$work/BIG.OUT"
  t=$( { time (cd "$work" && echo BIG.DAT | "$build/korven" > /dev/null); } 2>&1 )
  echo "run $i: $t s"
  times+=("$t")
done
best=$(printf '%s\n' "${times[@]}" | sort -n | head -n 1)
printf 'korven, whole run, best of %d: %.3f s (listing %d bytes)\n' "$runs" "$best" "$(wc -c < "$work/BIG.OUT")"
"$build/bench/dense_reference" "$work/BIG.DAT"
