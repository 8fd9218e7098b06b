#!/usr/bin/env bash
# Sets up, builds and starts the Velmora window.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh window
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)"
exec build/release/bin/velmora "$@"
