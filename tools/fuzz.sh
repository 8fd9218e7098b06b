#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (fuzzer, address and undefined
# sanitizers, any finding fatal) into build/fuzz and runs each for a fixed
# time, one after another, printing libFuzzer's final statistics.
#
#   tools/fuzz.sh [seconds per target, default 600] [target ...]
#
# Targets: fuzz_number_text fuzz_gap_table fuzz_household_row fuzz_batch_run
# (the last only when the batch library is part of the build). The seeds in
# fuzz/corpus/<name without fuzz_>/ are read; what the fuzzer learns goes to
# build/fuzz/corpus/, crashes to build/fuzz/artifacts/, logs to build/fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh fuzz

seconds=${1:-600}
shift || true
dir=build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g"

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_FUZZ=ON -DVELMORA_BUILD_UI=OFF -DVELMORA_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$flags" >/dev/null
if [ "$#" -gt 0 ]; then
  targets=("$@")
  nice -n 10 cmake --build "$dir" -j2 --target "${targets[@]}" >/dev/null
else
  nice -n 10 cmake --build "$dir" -j2 >/dev/null
  targets=()
  for t in fuzz_number_text fuzz_gap_table fuzz_household_row fuzz_batch_run; do
    [ -x "$dir/bin/$t" ] && targets+=("$t")
  done
fi

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  mkdir -p "$dir/corpus/$name" "$dir/artifacts/$name" "$dir/logs"
  log="$dir/logs/$t.log"
  echo "== $t for ${seconds}s (log: $log)"
  if nice -n 10 "$dir/bin/$t" "$dir/corpus/$name" "fuzz/corpus/$name" \
      -max_total_time="$seconds" -print_final_stats=1 -timeout=20 -rss_limit_mb=1024 \
      -artifact_prefix="$dir/artifacts/$name/" >"$log" 2>&1; then
    echo "   no crash"
  else
    echo "   FAILED: see $log and $dir/artifacts/$name/"
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" | sed 's/^/   /' || true
  grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs)' "$log" | tail -n 1 | sed 's/^/   /' || true
done
exit $status
