#!/usr/bin/env bash
# Sets up, builds and runs every test: once at -O0 and once at -O3
# -march=native, so that the pinned results hold at both, and once under
# AddressSanitizer and UndefinedBehaviorSanitizer, where any finding fails;
# then the batch and the window's batch under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

build_and_test() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

echo "== -O0 build"
build_and_test build/o0 -DCMAKE_BUILD_TYPE=Debug
echo "== -O3 -march=native build"
build_and_test build/native -DCMAKE_BUILD_TYPE=Release -DVELMORA_NATIVE=ON -DVELMORA_BUILD_UI=OFF
echo "== address and undefined-behaviour sanitizer build"
# Any finding ends the program with an error, in the tests and in the
# programs they start; leaks count as findings.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
build_and_test build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 $sanitizers" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers"
echo "== thread sanitizer build (batch engine, command-line tool, the window's batch)"
# The batch engine's threads under ThreadSanitizer, in the tests and in the
# programs they start; any report fails. Debian's Qt and the X libraries under
# it are not instrumented: what they allocate, free and lock themselves is left
# out (their own hand-offs looked like races), and so are X11's lock reports
# at exit. Our code stays checked.
tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 $tsan" \
  -DCMAKE_EXE_LINKER_FLAGS="$tsan" >/dev/null
cmake --build build/tsan -j"$jobs" --target batch_tests cli_tests hostile_tests ui_batch_window_test \
  hostile_window_tests
{
  printf 'called_from_lib:%s\n' libQt6Core.so.6 libQt6Gui.so.6 libQt6Widgets.so.6 libQt6Test.so.6 \
    libQt6XcbQpa.so.6 libQt6DBus.so.6 libxcb.so.1 libglib-2.0.so.0 libdbus-1.so.3
  echo 'mutex:libX11.so.6'
} >build/tsan/qt.supp
# Two tool tests do not suit it: a 1 GiB address-space limit (the shadow
# memory needs more) and a 10 s limit on reading a 100 MB line.
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/build/tsan/qt.supp" \
  ctest --test-dir build/tsan --output-on-failure -j"$jobs" \
  -R '^(BatchTest|ResultHeader|OneTwoSeven|CliTest|BatchEngine|BatchTool|Window|ui_batch_window_test)' \
  -E 'LinesLongerThanMemory|HundredMegabyteLineIsReadWhole'
