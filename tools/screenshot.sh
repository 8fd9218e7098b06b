#!/usr/bin/env bash
# Starts the real Velmora window under a virtual X server, runs one
# individual calculation (Alt+A) so that the result boxes show numbers, and
# writes a PNG of the window to docs/screenshot.png (or the path given).
# The program reads and writes its settings in a throw-away folder, so the
# screenshot always shows the model's defaults.
#   tools/screenshot.sh [output.png [TITLE KEY...]]
# With a title, the KEYs are typed after the calculation (e.g. alt+v k opens
# 表示 → 計算過程) and the window of that title is taken instead.
# VELMORA_BIN overrides the program; VELMORA_SCREEN the virtual screen's size
# (default 1024x768; a QT_SCALE_FACTOR of 2 needs a larger one).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
title=${2:-Velmora}
keys=("${@:3}")
bin=${VELMORA_BIN:-build/release/bin/velmora}
if [ ! -x "$bin" ]; then
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release -j2 --target velmora
fi

work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 "${VELMORA_SCREEN:-1024x768}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb "$bin" >"$work/velmora.log" 2>&1 &
pids+=($!)
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Velmora$' | head -n1)
sleep 1
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key --window "$wid" alt+a
sleep 1
if [ "$title" != Velmora ]; then
  # Menus take keys from the keyboard itself, not from events sent to a window.
  for key in "${keys[@]}"; do
    xdotool key "$key"
    sleep 0.3
  done
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | head -n1)
  sleep 1
fi
mkdir -p "$(dirname "$out")"
import -window root "$work/root.png"
eval "$(xdotool getwindowgeometry --shell "$wid")"
convert "$work/root.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
echo "screenshot: $out (${WIDTH}x${HEIGHT})"
