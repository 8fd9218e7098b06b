#!/usr/bin/env bash
# Sets up, builds and runs every test: once at -O0 and once at -O3
# -march=native, so that the pinned results hold at both.
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
