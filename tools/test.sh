#!/usr/bin/env bash
# Sets up, builds and runs every test, in stages: once at -O0 and once at -O3
# -march=native, so that the pinned results hold at both, and once under
# AddressSanitizer and UndefinedBehaviorSanitizer, where any finding fails;
# then the batch engine, the tool and the window's batch under ThreadSanitizer;
# last the engine and velmora-batch cross-built for Windows and tested under
# Wine (tools/windows.sh).
#
# Every stage runs, even after one has failed; each ends with one summary line
# (tests passed, failed and skipped), and the exit status is 1 when any stage
# failed. A stage's build output goes to its build folder's build.log.
#
#   tools/test.sh [stage ...]      (default: every stage: o0 native asan tsan windows)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh test

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

# One summary line per stage, in order.
summary=()
failed=0

# Records the outcome of a stage: its label, then "passed failed skipped" or
# a reason it has no counts. A stage with no test run counts as failed.
record() {
  local label=$1 passed=${2:-} failures=${3:-} skipped=${4:-} reason=${5:-}
  local line
  if [ -n "$reason" ]; then
    line=$(printf '%-36s FAILED: %s' "$label" "$reason")
    failed=1
  else
    local verdict=ok
    if [ "$failures" -ne 0 ] || [ "$passed" -eq 0 ]; then
      verdict=FAILED
      failed=1
    fi
    line=$(printf '%-36s %-6s %4d passed, %d failed, %d skipped' "$label" "$verdict" "$passed" "$failures" "$skipped")
  fi
  summary+=("$line")
}

# The number in attribute $1 of the <testsuite ...> element $2.
junit_count() {
  sed -n "s/.* $1=\"\\([0-9]*\\)\".*/\\1/p" <<<"$2"
}

# Configures and builds DIR with the CMake options given, runs its tests
# through ctest and records the counts from ctest's JUnit report. A stage may
# set `targets` (what to build; default all) and `ctest_args` (which tests).
build_and_test() {
  local label=$1 dir=$2
  shift 2
  echo "== $label ($dir)"
  mkdir -p "$dir"
  local log=$dir/build.log
  echo "   building (log: $log)"
  local -a build_targets=()
  [ -z "${targets+x}" ] || build_targets=(--target "${targets[@]}")
  if ! { cmake -S . -B "$dir" "$@" && cmake --build "$dir" -j"$jobs" "${build_targets[@]}"; } >"$log" 2>&1; then
    tail -n 20 "$log" | sed 's/^/   /'
    record "$label" "" "" "" "build failed, see $log"
    return
  fi
  local report=$PWD/$dir/ctest-junit.xml
  rm -f "$report"
  # One line per test as it ends (the lines for tests that start are left out).
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --output-junit "$report" ${ctest_args+"${ctest_args[@]}"} 2>&1 |
    grep --line-buffered -v '^ *Start  *[0-9][0-9]*: ' || true
  record_junit "$label" "$report" "ctest wrote no report"
}

# Records the counts of ctest's JUnit report $2 for stage $1; without a
# report, the stage failed for reason $3.
record_junit() {
  local label=$1 report=$2
  if [ ! -s "$report" ]; then
    record "$label" "" "" "" "$3"
    return
  fi
  # <testsuite ... tests="N" failures="F" disabled="D" skipped="S" ...>
  local suite tests failures skipped disabled
  suite=$(tr '\n\t' '  ' <"$report" | grep -m1 -o '<testsuite [^>]*>' || true)
  tests=$(junit_count tests "$suite")
  failures=$(junit_count failures "$suite")
  skipped=$(junit_count skipped "$suite")
  disabled=$(junit_count disabled "$suite")
  skipped=$((${skipped:-0} + ${disabled:-0}))
  record "$label" $((${tests:-0} - ${failures:-0} - skipped)) "${failures:-0}" "$skipped"
}

# The stages, in order. A stage is a function that calls build_and_test (or
# runs its tests otherwise and calls record once).
stage_o0() {
  build_and_test "-O0" build/o0 -DCMAKE_BUILD_TYPE=Debug
}

stage_native() {
  build_and_test "-O3 -march=native" build/native -DCMAKE_BUILD_TYPE=Release -DVELMORA_NATIVE=ON \
    -DVELMORA_BUILD_UI=OFF
}

stage_asan() {
  # Any finding ends the program with an error, in the tests and in the
  # programs they start; leaks count as findings.
  local sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
  ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    build_and_test "AddressSanitizer + UBSan" build/asan -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-O1 $sanitizers" -DCMAKE_EXE_LINKER_FLAGS="$sanitizers"
}

stage_tsan() {
  # The batch engine's threads, in the tests and in the programs they start;
  # any report fails. Debian's Qt and the X libraries under it are not
  # instrumented: what they allocate, free and lock themselves is left out
  # (their own hand-offs looked like races), and so are X11's lock reports at
  # exit. Our code stays checked.
  local tsan="-fsanitize=thread -fno-omit-frame-pointer"
  local -a targets=(batch_tests cli_tests hostile_tests ui_batch_window_test hostile_window_tests)
  # Two tool tests do not suit it: a 1 GiB address-space limit (the shadow
  # memory needs more) and a 100 MB line, slow under the sanitizer.
  local -a ctest_args=(-R '^(BatchTest|ResultHeader|OneTwoSeven|CliTest|BatchEngine|BatchTool|Window|ui_batch_window_test)'
    -E 'LinesLongerThanMemory|HundredMegabyteLineIsReadWhole')
  mkdir -p build/tsan
  {
    printf 'called_from_lib:%s\n' libQt6Core.so.6 libQt6Gui.so.6 libQt6Widgets.so.6 libQt6Test.so.6 \
      libQt6XcbQpa.so.6 libQt6DBus.so.6 libxcb.so.1 libglib-2.0.so.0 libdbus-1.so.3
    echo 'mutex:libX11.so.6'
  } >build/tsan/qt.supp
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/build/tsan/qt.supp" \
    build_and_test "ThreadSanitizer (batch, tool, window's batch)" build/tsan -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-O1 $tsan" -DCMAKE_EXE_LINKER_FLAGS="$tsan"
}

stage_windows() {
  # The engine and the tool for Windows, their suites under Wine and the
  # comparison with the Linux tool; tools/windows.sh writes ctest's report.
  local label="Windows (MinGW-w64, under Wine)"
  local report=$PWD/build/windows/ctest-junit.xml
  rm -f "$report"
  echo "== $label (build/windows)"
  local started=$SECONDS
  tools/windows.sh || true
  echo "   the Windows stage took $((SECONDS - started)) s"
  record_junit "$label" "$report" "no test report: build or Wine failed, see build/windows/build.log"
}

stages=(o0 native asan tsan windows)
if [ "$#" -gt 0 ]; then
  for stage in "$@"; do
    declare -F "stage_$stage" >/dev/null || { echo "test: no stage '$stage' (${stages[*]})" >&2; exit 2; }
  done
  stages=("$@")
fi

for stage in "${stages[@]}"; do
  "stage_$stage"
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
