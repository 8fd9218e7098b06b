#!/usr/bin/env bash
# Wall time, CPU time and peak memory of velmora-batch: 1 and 2 threads, both
# modes, 10,000 / 1,000,000 / 10,000,000 generated households.
#
#   tools/bench_batch.sh [path/to/velmora-batch]
#
# Without a path it builds build/bench as the README's benchmark commands do
# (Release, -DVELMORA_NATIVE=ON) and measures build/bench/bin/velmora-batch.
# A tool without --threads (an older build) is measured once per row, at its
# only setting. Settings through the environment:
#   ROWS="10000 1000000 10000000"  THREADS="1 2"  REPEAT=3
# Each figure is the run with the median wall time of REPEAT runs. Wall and
# rows/s count the whole command: start, gap table, file check, run, sync and
# rename; CPU is user + system time; peak RSS is GNU time's maximum resident
# set size. The output file is removed before each run, so that no run pays
# for deleting the previous result.
set -euo pipefail
cd "$(dirname "$0")/.."
rows_list=${ROWS:-10000 1000000 10000000}
threads_list=${THREADS:-1 2}
repeat=${REPEAT:-3}
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (GNU time): tools/setup.sh bench" >&2; exit 1; }

if [[ $# -ge 1 ]]; then
  tool=$1
else
  cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVELMORA_NATIVE=ON -DVELMORA_BUILD_BENCHMARKS=ON \
    -DVELMORA_BUILD_UI=OFF -DVELMORA_BUILD_TESTS=OFF >/dev/null
  cmake --build build/bench -j"$(nproc)" --target velmora-batch >/dev/null
  tool=build/bench/bin/velmora-batch
fi
[[ -x $tool ]] || { echo "no executable at $tool (build it first)" >&2; exit 1; }
has_threads=0
"$tool" --help | grep -q -- --threads && has_threads=1
[[ $has_threads == 1 ]] || threads_list=-

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

# One run: "wall_seconds cpu_seconds peak_kib".
measure() {
  rm -f "$work/out.csv"
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" "$work/in.csv" "$work/out.csv" 2>/dev/null
  end=$(date +%s%N)
  read -r user sys rss < <(tail -n 1 "$work/time")
  awk -v ns=$((end - start)) -v u="$user" -v s="$sys" -v m="$rss" 'BEGIN { printf "%.3f %.2f %d\n", ns / 1e9, u + s, m }'
}

echo "tool: $tool ($(nproc) cores)"
echo "load before: $(uptime)"
printf '%10s  %-22s %7s %9s %8s %12s %9s\n' rows mode threads "wall s" "CPU s" rows/s "peak MiB"
for rows in $rows_list; do
  generate "$rows" "$work/in.csv"
  for mode in with-risk-premium without-risk-premium; do
    for threads in $threads_list; do
      args=("$tool")
      [[ $mode == without-risk-premium ]] && args+=(--without-risk-premium)
      [[ $threads != - ]] && args+=(--threads "$threads")
      for ((i = 0; i < repeat; i++)); do measure "${args[@]}"; done | sort -n | sed -n "$(((repeat + 1) / 2))p" |
        while read -r wall cpu rss; do
          awk -v r="$rows" -v m="$mode" -v t="$threads" -v w="$wall" -v c="$cpu" -v k="$rss" \
            'BEGIN { printf "%10d  %-22s %7s %9.3f %8.2f %12.0f %9.1f\n", r, m, t, w, c, r / w, k / 1024 }'
        done
      lines=$(wc -l < "$work/out.csv")
      [[ $lines -eq $((rows + 1)) ]] || { echo "result has $lines lines, expected $((rows + 1))" >&2; exit 1; }
    done
  done
done
echo "load after:  $(uptime)"
