#!/usr/bin/env bash
# --map on Windows, where the GeoJSON is our own writer's, against the Linux
# tool, where it is GDAL's: the same map bytes, result bytes, exit status and
# messages. The case `gpkg-refused`: the Windows tool refuses other formats,
# naming .geojson, and writes nothing.
#
#   same_map_as_linux.sh CASE LINUX_TOOL WINDOWS_TOOL [EMULATOR ...]
set -euo pipefail
name=$1 linux=$(realpath "$2") windows=$(realpath "$3")
shift 3
emulator=("$@")

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-same-map.XXXXXX")
trap 'rm -rf "$work"' EXIT
folder="$work/浸水調査 2024"
mkdir -p "$folder/linux" "$folder/windows"
input="$folder/入力.csv"
# メッシュ, 地区 and 東京都 in CP932; codes of every order, one 7-digit code, one
# line that cannot be computed, 300 3rd-order meshes of 533946 and 533947.
{
  printf 'a,b,c,d,e,f,g,h,\x83\x81\x83\x62\x83\x56\x83\x85,\x92\x6e\x8b\xe6\r\n'
  printf '9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321,53394611,\x93\x8c\x8b\x9e\x93\x73\r\n'
  printf '12.5,3.2,6.1,2.4,10,18.2,30.5,2.75,5339461142,abc\r\n'
  printf '9.725,x,4.81,3.57,7.416,14.759,22.616,3.321,53394612,\r\n'
  printf '9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321,5339461,\r\n'
  printf '1.5E+01,2e-1,5,0.25,3,7.5,25,1, 533946114 ,"q"\r\n'
  awk 'BEGIN { srand(20261207); for (i = 0; i < 300; i++)
    printf "%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,53394%d%02d,\r\n", rand() * 20, rand() * 12, 1 + rand() * 15,
      rand() * 25, rand() * 30, 2 + rand() * 20, 5 + rand() * 40, 1 + rand() * 8, 6 + i % 2, i % 100 }'
} >"$input"

case $name in
  lines) options=(--keep-columns --mesh-column 9 --threads 2 ../入力.csv 結果.csv --map 地図.geojson) ;;
  level) options=(--mesh-column メッシュ ../入力.csv 結果.csv --map 地図.geojson --map-level 2) ;;
  gpkg-refused) options=(../入力.csv 結果.csv --map 地図.gpkg) ;;
  *) echo "no case '$name'" >&2; exit 2 ;;
esac

set +e
run_windows() {
  (cd "$folder/windows" && "${emulator[@]}" "$windows" "${options[@]}") >"$work/windows.out" 2>"$work/windows.err"
}
run_windows
windows_status=$?
# The tool never fails without a message: a silent failure that left nothing
# is Wine not starting it (see same_bytes_as_linux.sh). Once more.
if [[ $windows_status -ne 0 && ! -s $work/windows.err && -z $(ls -A "$folder/windows") ]]; then
  echo "Wine ended the program with $windows_status and no message before it wrote anything; starting it again"
  run_windows
  windows_status=$?
fi
if [[ $name == gpkg-refused ]]; then
  set -e
  [[ $windows_status -eq 2 ]] || { echo "FAILED: exit status $windows_status, not 2"; exit 1; }
  iconv -f CP932 -t UTF-8 "$work/windows.err" | grep -q '\.geojson' || { echo "FAILED: no .geojson in:"; cat "$work/windows.err"; exit 1; }
  [[ -z $(ls -A "$folder/windows") ]] || { echo "FAILED: written: $(ls -A "$folder/windows")"; exit 1; }
  echo "$name: refused with exit 2"
  exit 0
fi
(cd "$folder/linux" && "$linux" "${options[@]}") >"$work/linux.out" 2>"$work/linux.err"
linux_status=$?
set -e

failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}
[[ $linux_status -eq 0 && $windows_status -eq 0 ]] || fail "exit status: Linux $linux_status, Windows $windows_status"
if ! iconv -f CP932 -t UTF-8 "$work/windows.err" | tr -d '\r' | cmp -s - "$work/linux.err"; then
  fail "messages differ"
  echo "Linux:"; cat "$work/linux.err"
  echo "Windows (CP932):"; iconv -f CP932 -t UTF-8 "$work/windows.err" || true
fi
cmp "$folder/linux/結果.csv" "$folder/windows/結果.csv" || fail "result files differ"
cmp "$folder/linux/地図.geojson" "$folder/windows/地図.geojson" || {
  fail "maps differ"
  diff <(tr ',' '\n' <"$folder/linux/地図.geojson") <(tr ',' '\n' <"$folder/windows/地図.geojson") | head -20 || true
}
echo "$name: exit $linux_status, $(grep -c '"Feature"' "$folder/linux/地図.geojson") features"
exit $failed
