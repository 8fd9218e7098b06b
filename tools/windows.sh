#!/usr/bin/env bash
# Cross-builds velmora-batch, the window velmora.exe and their tests for
# 64-bit Windows with MinGW-w64 into build/windows (build/windows/bin/
# velmora-batch.exe and velmora.exe) and runs the core, input, batch, form and
# command-line suites under Wine, then the Linux and the Windows tool on the
# same inputs, byte for byte, and velmora.exe driven by window messages.
#
#   tools/windows.sh            build and test (ctest's JUnit report:
#                               build/windows/ctest-junit.xml)
#   tools/windows.sh --build    build only
#
# Wine runs in a prefix of this build's own (build/windows/wine), not the
# user's ~/.wine, on a virtual X display of the stage's own. Its first start
# takes a while; its server and services are started once and ended at the
# end.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh windows

build=build/windows
jobs=$(nproc)
mkdir -p "$build"
log=$build/build.log
: >"$log"

# The Linux tool the Windows one is compared with, Release as users get it.
linux_tool=$build/linux/bin/velmora-batch
echo "== building the Linux velmora-batch ($build/linux) and the Windows one ($build); log: $log"
if ! {
  cmake -S . -B "$build/linux" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_UI=OFF -DVELMORA_BUILD_TESTS=OFF &&
    cmake --build "$build/linux" -j"$jobs" --target velmora-batch &&
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DVELMORA_BUILD_UI=OFF -DVELMORA_LINUX_TOOL="$PWD/$linux_tool" &&
    cmake --build "$build" -j"$jobs"
} >>"$log" 2>&1; then
  tail -n 20 "$log" | sed 's/^/   /'
  echo "windows: the build failed, see $log" >&2
  exit 1
fi
for exe in $build/bin/velmora-batch.exe $build/bin/velmora.exe; do
  echo "   $exe: DLLs it needs:" $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p')
done
[[ ${1:-} == --build ]] && exit 0

# Wine reads the Linux file names through the locale: a UTF-8 one, so that
# the Japanese folder and file names of the tests reach the program (a fresh
# system has none set).
export WINEPREFIX=$PWD/$build/wine WINEDEBUG=-all LC_ALL=C.UTF-8
# Windows open on a virtual display only (velmora.exe's under test), and
# Wine asks for no Mono or Gecko.
unset WAYLAND_DISPLAY
export DISPLAY=:$((300 + RANDOM % 100))
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >>"$log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
export WINEDLLOVERRIDES="mscoree,mshtml="
started=$(date +%s)
if [[ ! -d $WINEPREFIX/drive_c/windows/system32 ]]; then
  echo "== creating the Wine prefix $WINEPREFIX (once)"
  # Without the 32-bit part (wine32) it complains and answers non-zero; a
  # 64-bit program runs all the same, which the next step shows.
  wine wineboot --init </dev/null >>"$log" 2>&1 || true
fi
# The server stays for the whole run, and Wine's services start now with no
# terminal: started by the first test, they would hold ctest's pipes open.
wineserver -k 2>/dev/null || true  # one left by wineboot, or by a run that was stopped
wineserver -p
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
if ! wine cmd /c exit </dev/null >>"$log" 2>&1; then
  echo "windows: Wine cannot start a program in $WINEPREFIX, see $log" >&2
  exit 1
fi
echo "   Wine ready in $(($(date +%s) - started)) s"

report=$PWD/$build/ctest-junit.xml
rm -f "$report"
echo "== tests under Wine"
status=0
ctest --test-dir "$build" --output-on-failure -j"$jobs" --output-junit "$report" 2>&1 |
  grep --line-buffered -v '^ *Start  *[0-9][0-9]*: ' || status=1
echo "   done in $(($(date +%s) - started)) s"
exit $status
