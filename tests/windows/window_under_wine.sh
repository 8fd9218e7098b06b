#!/usr/bin/env bash
# Runs the window driver under Wine against velmora.exe on a virtual X
# display: the stage's own (DISPLAY, started by tools/windows.sh) or one
# started here.
#   window_under_wine.sh DRIVER.exe VELMORA.exe VELMORA-BATCH.exe WINE-COMMAND...
set -euo pipefail
driver=$1 window=$2 tool=$3
shift 3
xvfb=
if [[ -z ${DISPLAY:-} ]]; then
  export DISPLAY=:$((200 + RANDOM % 100))
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null || true' EXIT
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi
work=$(mktemp -d)
trap 'rm -rf "$work"; [[ -z $xvfb ]] || kill $xvfb 2>/dev/null || true' EXIT
# The driver takes Windows paths: the host's root is drive Z:.
"$@" "$driver" "Z:$window" "Z:$tool" "Z:$work/作業"
