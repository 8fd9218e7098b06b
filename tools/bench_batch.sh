#!/usr/bin/env bash
# Rows per second and peak memory of velmora-batch, in both modes, for 10,000
# and 1,000,000 generated households.
#
#   tools/bench_batch.sh [path/to/velmora-batch]    (default: build/bench/bin/velmora-batch)
#
# The default is the build that the README's benchmark commands make
# (Release, -O3 -march=native). Rows/s counts the whole command: start, gap
# table, file checks, run.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:-build/bench/bin/velmora-batch}
[[ -x $tool ]] || { echo "no executable at $tool (build it first: see Benchmarks in README.md)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (GNU time): tools/setup.sh bench" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Households of plausible size, a few of them not computable; CR LF as Excel
# writes them.
generate() {
  awk -v n="$1" 'BEGIN {
    srand(20240601)
    print "house,goods,income,assets,land,goodsvalue,price,consumption\r"
    for (i = 0; i < n; i++) {
      if (i % 997 == 0) { printf "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321\r\n"; continue }
      printf "%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f\r\n", rand() * 20, rand() * 12, 1 + rand() * 15,
        rand() * 25, rand() * 30, 2 + rand() * 20, 5 + rand() * 40, 1 + rand() * 8
    }
  }' > "$2"
}

printf '%-10s %-24s %10s %12s %14s\n' rows mode seconds rows/s "peak RSS KiB"
for rows in 10000 1000000; do
  generate "$rows" "$work/in.csv"
  for mode in with-risk-premium without-risk-premium; do
    option=()
    [[ $mode == without-risk-premium ]] && option=(--without-risk-premium)
    start=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$work/time" "$tool" "${option[@]}" "$work/in.csv" "$work/out.csv" 2>/dev/null
    end=$(date +%s%N)
    rss=$(tail -n 1 "$work/time")
    awk -v r="$rows" -v m="$mode" -v ns=$((end - start)) -v rss="$rss" \
      'BEGIN { s = ns / 1e9; printf "%-10d %-24s %10.3f %12.0f %14d\n", r, m, s, r / s, rss }'
    lines=$(wc -l < "$work/out.csv")
    [[ $lines -eq $((rows + 1)) ]] || { echo "result has $lines lines, expected $((rows + 1))" >&2; exit 1; }
  done
done
