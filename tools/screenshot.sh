#!/usr/bin/env bash
# Starts Velmora under a virtual X server and writes a PNG of what the user
# sees:
#   window         the window after one individual calculation (Alt+A), so
#                  that the result boxes show numbers  (docs/screenshot.png)
#   gap-table      the view of the example table data/EGapDis.txt, with the
#                  point the default household reads  (docs/gap-table-view.png)
#   batch-summary  the summary of a batch of generated sample households over
#                  that table  (docs/batch-summary-view.png)
#   risk-curve     the risk curve of three generated flood scenarios
#                  (tools/make_scenarios.sh)  (docs/risk-curve.png)
# The program reads and writes its settings in a throw-away folder, so the
# screenshot always shows the model's defaults.
#   windows        velmora.exe under Wine after the same calculation
#                  (docs/windows-screenshot.png; built by tools/windows.sh)
#   tools/screenshot.sh [window|explain|gap-table|batch-summary|windows] [output.png]
#   explain        the window after that calculation with 表示 → 計算過程
#                  open  (docs/explain-view.png)
#   map            the map of a batch of 2,500 3rd-order meshes around the
#                  2nd-order mesh 533946 (tools/make_mesh_input.py), the
#                  mouse on one cell  (docs/map-view.png)
# VELMORA_BIN overrides the window program, VELMORA_VIEW_SHOT the view
# program; QT_SCALE_FACTOR=2 shows them at twice the size (on a larger screen).
set -euo pipefail
cd "$(dirname "$0")/.."
view=window
case ${1:-} in
  window | explain | gap-table | batch-summary | map | risk-curve | windows) view=$1; shift ;;
esac
case $view in
  window) out=${1:-docs/screenshot.png} ;;
  windows) out=${1:-docs/windows-screenshot.png} ;;
  risk-curve) out=${1:-docs/risk-curve.png} ;;
  *) out=${1:-docs/$view-view.png} ;;
esac
bin=${VELMORA_BIN:-build/release/bin/velmora}
shot=${VELMORA_VIEW_SHOT:-build/release/bin/velmora-view-shot}
[ "$view" = window ] || [ "$view" = explain ] || bin=$shot
if [ "$view" = windows ]; then
  bin=build/windows/bin/velmora.exe
  [ -f "$bin" ] || tools/windows.sh --build
elif [ ! -x "$bin" ]; then
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release -j2 --target "$(basename "$bin")"
fi

work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

screen=1024x768x24
[ "${QT_SCALE_FACTOR:-1}" = 1 ] || screen=2560x1920x24
Xvfb "$display" -screen 0 "$screen" -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb
case $view in
  window | explain)
    "$bin" >"$work/velmora.log" 2>&1 &
    title='^Velmora$'
    ;;
  windows)
    # The build's own Wine prefix; the settings it keeps are set aside and
    # put back, so that the picture shows the model's defaults.
    export WINEPREFIX=$PWD/build/windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
    [ -d "$WINEPREFIX/drive_c" ] || wine wineboot --init >/dev/null 2>&1 || true
    # Wine's own face for menus (Tahoma) has no Japanese; a Japanese Windows
    # has its UI face there.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /d 'Noto Sans CJK JP' /f >/dev/null 2>&1 || true
    wine reg export 'HKCU\Software\Velmora' "$work/kept.reg" >/dev/null 2>&1 || true
    wine reg delete 'HKCU\Software\Velmora' /f >/dev/null 2>&1 || true
    trap 'wine reg delete "HKCU\\Software\\Velmora" /f >/dev/null 2>&1 || true
          [ -f "$work/kept.reg" ] && wine reg import "$work/kept.reg" >/dev/null 2>&1 || true
          wineserver -k 2>/dev/null || true; cleanup' EXIT
    wine "$bin" >"$work/velmora.log" 2>&1 &
    title='^Velmora$'
    ;;
  gap-table)
    "$bin" gap-table data/EGapDis.txt >"$work/velmora.log" 2>&1 &
    title='^ギャップ分布表$'
    ;;
  batch-summary)
    # Households around the window's default one, each value between half
    # and one and a half times its default; a few the row check refuses.
    awk 'BEGIN {
      srand(20240601)
      split("9.725 7.380 4.810 3.570 7.416 14.759 22.616 3.321", d, " ")
      print "house,goods,income,assets,land,goodsvalue,price,consumption\r"
      for (i = 0; i < 5000; i++) {
        if (i % 997 == 0) { printf "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321\r\n"; continue }
        if (i % 1499 == 0) { printf "0,0,4.81,3.57,7.416,0,0,3.321\r\n"; continue }
        line = ""
        for (k = 1; k <= 8; k++) line = line (k > 1 ? "," : "") sprintf("%.3f", d[k] * (0.5 + rand()))
        printf "%s\r\n", line
      }
    }' >"$work/Households.csv"
    "$bin" batch-summary data/EGapDis.txt "$work/Households.csv" "$work/Output.csv" >"$work/velmora.log" 2>&1 &
    title='^一括計算の集計$'
    ;;
  map)
    python3 tools/make_mesh_input.py "$work/Households.csv"
    "$bin" map data/EGapDis.txt "$work/Households.csv" "$work/Output.csv" >"$work/velmora.log" 2>&1 &
    title='^地図$'
    ;;
  risk-curve)
    tools/make_scenarios.sh "$work/floods" 2000 10 30 100 >/dev/null
    "$bin" risk-curve data/EGapDis.txt "$work/floods/manifest.csv" "$work/floods/Scenarios.csv" mesh 2 \
      >"$work/velmora.log" 2>&1 &
    title='^リスクカーブ$'
    ;;
esac
pids+=($!)
if ! wid=$(timeout 20 xdotool search --sync --onlyvisible --name "$title" | head -n1) || [ -z "$wid" ]; then
  echo "screenshot: no window titled $title appeared" >&2
  cat "$work/velmora.log" >&2
  exit 1
fi
sleep 1
xdotool windowfocus --sync "$wid" 2>/dev/null || true
if [ "$view" = windows ]; then
  # Wine takes keys from the keyboard itself.
  xdotool key alt+a
  sleep 1
elif [ "$view" = window ] || [ "$view" = explain ]; then
  xdotool key --window "$wid" alt+a
  sleep 1
fi
if [ "$view" = explain ]; then
  # Menus take keys from the keyboard itself, not from events sent to a window.
  for key in alt+v k; do
    xdotool key "$key"
    sleep 0.3
  done
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^計算過程$' | head -n1)
  sleep 1
fi
if [ "$view" = map ]; then
  # The mouse on a cell left of the middle, so that the picture shows what
  # hovering tells.
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  xdotool mousemove $((X + WIDTH * 40 / 100)) $((Y + HEIGHT * 45 / 100))
  sleep 0.3
  xdotool mousemove_relative 2 1
  sleep 1.5
fi
mkdir -p "$(dirname "$out")"
import -window root "$work/root.png"
eval "$(xdotool getwindowgeometry --shell "$wid")"
convert "$work/root.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
echo "screenshot: $out (${WIDTH}x${HEIGHT})"
