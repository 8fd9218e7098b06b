#!/usr/bin/env bash
# Wall time of velmora.compute for 1,000,000 households given as a DataFrame
# of float32 columns (both modes, 1 and 2 threads), whether the input was
# copied, and beside it velmora-batch on the same households as a CSV file and
# velmora.read_csv + compute on that file.
#
#   tools/bench_python.sh [BUILD_DIR]
#
# Without a folder it builds build/bench as the README's benchmark commands do
# (Release, -DVELMORA_NATIVE=ON) and measures its module and tool. Settings
# through the environment: ROWS=1000000  REPEAT=5. Each figure is the median
# of REPEAT runs; compute's figure is the call alone (columns in, DataFrame
# with the results out; wall time and the process's CPU time, user + system),
# the tool's the whole command.
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${ROWS:-1000000}
repeat=${REPEAT:-5}

if [[ $# -ge 1 ]]; then
  build=$1
else
  build=build/bench
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELMORA_NATIVE=ON -DVELMORA_BUILD_BENCHMARKS=ON \
    -DVELMORA_BUILD_UI=OFF -DVELMORA_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target velmora_python velmora-batch >"$build/build.log" 2>&1 ||
    { tail -n 20 "$build/build.log" >&2; exit 1; }
fi
[[ -d $build/python/velmora ]] || { echo "no Python module in $build/python (build velmora_python)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "module: $build/python/velmora ($(nproc) cores)"
echo "load before: $(uptime)"
PYTHONPATH=$build/python PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 - "$rows" "$repeat" "$work" \
  "$build/bin/velmora-batch" data/EGapDis.txt <<'EOF'
import statistics
import subprocess
import sys
import time
import tracemalloc

import numpy as np
import pandas as pd

import velmora

rows, repeat, work, tool, table = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]

# Households of plausible size, as tools/bench_batch.sh makes them, with a
# few that are not computable.
rng = np.random.default_rng(20240601)
low = np.array([0, 0, 1, 0, 0, 2, 5, 1], dtype=np.float64)
high = low + np.array([20, 12, 15, 25, 30, 20, 40, 8])
values = np.round(rng.uniform(low, high, size=(rows, 8)), 3)
values[::997, 1] = np.nan
frame = pd.DataFrame({t: values[:, k].astype(np.float32) for k, t in enumerate(velmora.INPUT_COLUMNS)})
source = f"{work}/in.csv"
with open(source, "w", newline="") as out:
    out.write("house,goods,income,assets,land,goodsvalue,price,consumption\r\n")
    np.savetxt(out, values, fmt="%.3f", delimiter=",", newline="\r\n")


def median_seconds(run, cpu=False):
    """Wall seconds of the median run, and with cpu=True this process's CPU seconds in it."""
    times = []
    for _ in range(repeat):
        started, used = time.perf_counter(), time.process_time()
        run()
        times.append((time.perf_counter() - started, time.process_time() - used))
    times.sort()
    return times[len(times) // 2] if cpu else times[len(times) // 2][0]


print(f"{'rows':>10}  {'mode':<22} {'threads':>7} {'wall s':>8} {'CPU s':>7} {'rows/s':>12}")
for mode in ("with-risk-premium", "without-risk-premium"):
    premium = mode == "with-risk-premium"
    for threads in (1, 2):
        wall, cpu = median_seconds(
            lambda: velmora.compute(frame, with_risk_premium=premium, gap_table=table, threads=threads), cpu=True)
        print(f"{rows:>10}  {mode:<22} {threads:>7} {wall:>8.3f} {cpu:>7.3f} {rows / wall:>12.0f}")

tracemalloc.start()
velmora.compute(frame, gap_table=table)
peak = tracemalloc.get_traced_memory()[1]
tracemalloc.stop()
size = sum(frame[c].to_numpy().nbytes for c in velmora.INPUT_COLUMNS)
print(f"input {size / 2**20:.1f} MiB; memory the call allocated at its peak {peak / 2**20:.1f} MiB"
      f" ({'no copy of the input' if peak < size else 'the input was copied'})")

print("the same households as a CSV file (2 threads):")
for mode in ("with-risk-premium", "without-risk-premium"):
    flag = [] if mode == "with-risk-premium" else ["--without-risk-premium"]
    seconds = median_seconds(lambda: subprocess.run(
        [tool, *flag, "--quiet", "--threads", "2", "--gap-table", table, source, f"{work}/out.csv"], check=True))
    premium = mode == "with-risk-premium"
    both = median_seconds(lambda: velmora.compute(
        velmora.read_csv(source, with_risk_premium=premium), with_risk_premium=premium, gap_table=table, threads=2))
    print(f"  {mode:<22} velmora-batch {seconds:.3f} s; velmora.read_csv + compute {both:.3f} s")
EOF
echo "load after:  $(uptime)"
