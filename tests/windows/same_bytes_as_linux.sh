#!/usr/bin/env bash
# One case of the Linux and the Windows velmora-batch on the same input, in a
# folder whose name is Japanese (with a blank): the result files must be the
# same bytes, the exit statuses equal and the messages the same text (the
# Windows tool writes them redirected as CP932 with CR LF).
#
#   same_bytes_as_linux.sh CASE LINUX_TOOL WINDOWS_TOOL [EMULATOR ...]
set -euo pipefail
name=$1 linux=$(realpath "$2") windows=$(realpath "$3")
shift 3
emulator=("$@")

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-same-bytes.XXXXXX")
trap 'rm -rf "$work"' EXIT
folder="$work/浸水調査 2024"
mkdir -p "$folder/linux" "$folder/windows"

cp932_header=$'\x89\xc6\x89\xae\x94\xed\x8aQ,\x89\xc6\x8d\xe0\x94\xed\x8aQ,h3,h4,h5,h6,h7,h8'  # 家屋被害,家財被害,...
tokyo=$'\x93\x8c\x8b\x9e\x93\x73\x95\x5c'  # 東京都表: a trail byte 0x5C
mesh=$'\x83\x81\x83\x62\x83\x56\x83\x85'   # メッシュ
# Every line shape: computed, extra fields, not numeric, zero sums, no
# damage (the model cannot compute it), quotes and blanks, exponents and
# signs, the ends of the single range, CP932 text, empty fields.
mixed=(
  "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321"
  "12.5,3.2,6.1,2.4,10,18.2,30.5,2.75,extra,fields,here,$mesh-0001"
  "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321"
  "9.725,7.38,4.81,3.57,7.416,2,-2,3.321"
  "9.725,7.38,0,0,7.416,14.759,22.616,3.321"
  "0,0,4.81,3.57,7.416,14.759,22.616,3.321"
  "\"9.725\",7.38,4.81,3.57,7.416,14.759,22.616,3.321"
  " 9.725 ,7.38,4.81,3.57,7.416,14.759,22.616,3.321"
  "1.5E+01,2e-1,5,0.25,3,7.5,25,1"
  "-2,3,4.5,1,2,8,12,2"
  "40,30,1,0.5,2,50,60,1"
  "1e38,1e38,1e38,1e38,1e38,1e38,1e38,1e38"
  "1e-45,1,1,1,1,1,1,1"
  "0.000001,3,20,15,5,10,30,8"
  "9.725,7.38,4.81,3.57,7.416,14.759,22.616,$tokyo"
  "$tokyo,7.38,4.81,3.57,7.416,14.759,22.616,3.321,$mesh"
  ",,,,,,,"
)
# Lines joined by `end`; the last one without it when `open_end` is set.
write_lines() {
  local end=$1 open_end=$2
  shift 2
  local i=0
  for line in "$@"; do
    i=$((i + 1))
    if [[ $i -eq $# && -n $open_end ]]; then printf '%s' "$line"; else printf '%s%s' "$line" "$end"; fi
  done
}
random_lines() {
  awk -v n="$1" 'BEGIN {
    srand(20240601)
    for (i = 0; i < n; i++) {
      if (i % 997 == 0) { print "9.725,x,4.81,3.57,7.416,14.759,22.616,3.321"; continue }
      printf "%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f\n", rand() * 20, rand() * 12, 1 + rand() * 15,
        rand() * 25, rand() * 30, 2 + rand() * 20, 5 + rand() * 40, 1 + rand() * 8
    }
  }'
}

input="$folder/入力.csv"
options=()
files=(../入力.csv 結果.csv)
extra_file=""  # what the case leaves beside the result
case $name in
  mixed-crlf-with-premium)
    write_lines $'\r\n' "" "$cp932_header" "${mixed[@]}" >"$input" ;;
  mixed-lf-without-premium)
    options=(--without-risk-premium)
    write_lines $'\n' "" "$cp932_header" "${mixed[@]}" "9.725,7.38,4.81,3.57,7.416,14.759,22.616" \
      "9.725,7.38,4.81,3.57,7.416,14.759,22.616,$tokyo,x" >"$input" ;;
  mixed-cr-open-end)
    write_lines $'\r' open "$cp932_header" "${mixed[@]}" >"$input" ;;
  random-with-premium)
    options=(--threads 2)
    { echo "h"; random_lines 20000; } | sed 's/$/\r/' >"$input" ;;
  random-without-premium)
    options=(--without-risk-premium --threads 2)
    { echo "h"; random_lines 20000; } >"$input" ;;
  settings-and-japanese-table)
    cp "$(dirname "$linux")/EGapDis.txt" "$folder/表①.txt"
    options=(--insurance-rate 0.3 --damage-probability=0.05 --interest-rate 0.02 --markup-rate 2.5
             --gap-table "../表①.txt")
    write_lines $'\r\n' "" "$cp932_header" "${mixed[@]}" >"$input" ;;
  check-fails-keeps-output)
    # A line of seven fields in the mode with the risk premium: refused
    # before anything is written; the earlier result stays.
    write_lines $'\r\n' "" "$cp932_header" "${mixed[@]:0:3}" "1,2,3,4,5,6,7" >"$input"
    printf 'earlier' >"$folder/linux/結果.csv"
    printf 'earlier' >"$folder/windows/結果.csv" ;;
  kept-columns-utf8-summary)
    # The extra fields after the twelve columns, a UTF-8 result, and the
    # summary, whose figures and digests must agree (its paths are each
    # system's own).
    options=(--keep-columns --output-encoding utf-8 --summary 集計.json --threads 2)
    extra_file=集計.json
    # UTF-8 output takes a file without CP932 text: the ASCII lines.
    ascii=()
    for line in "${mixed[@]}"; do
      [[ $line == *[$'\x80'-$'\xff']* ]] || ascii+=("$line,M-$((${#ascii[@]} + 1))")
    done
    write_lines $'\r\n' "" "h1,h2,h3,h4,h5,h6,h7,h8,mesh" "${ascii[@]}" >"$input" ;;
  explain-json)
    options=(--explain "9.725,7.38,4.81,3.57,7.416,14.759,22.616,3.321" --format json)
    files=()
    write_lines $'\r\n' "" "$cp932_header" >"$input" ;;
  bad-setting)
    options=(--markup-rate 0)
    write_lines $'\r\n' "" "$cp932_header" "${mixed[@]}" >"$input" ;;
  *)
    echo "no case '$name'" >&2
    exit 2 ;;
esac

set +e
(cd "$folder/linux" && "$linux" "${options[@]}" "${files[@]}") >"$work/linux.out" 2>"$work/linux.err"
linux_status=$?
run_windows() {
  (cd "$folder/windows" && "${emulator[@]}" "$windows" "${options[@]}" "${files[@]}") \
    >"$work/windows.out" 2>"$work/windows.err"
}
run_windows
windows_status=$?
# The tool never fails without a message; a silent failure that left nothing
# is Wine not starting it (its own errors are switched off), seen once on a
# loaded 2-core machine. Start it once more; a fault of the tool stays.
if [[ $windows_status -ne 0 && ! -s $work/windows.err && -z $(ls -A "$folder/windows") && $linux_status -eq 0 ]]; then
  echo "Wine ended the program with $windows_status and no message before it wrote anything; starting it again"
  run_windows
  windows_status=$?
fi
set -e

failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}
[[ $linux_status -eq $windows_status ]] || fail "exit status: Linux $linux_status, Windows $windows_status"
if ! iconv -f CP932 -t UTF-8 "$work/windows.err" | tr -d '\r' | cmp -s - "$work/linux.err"; then
  fail "messages differ"
  echo "Linux:"; cat "$work/linux.err"
  echo "Windows (CP932):"; iconv -f CP932 -t UTF-8 "$work/windows.err" || true
fi
if [[ -e "$folder/linux/結果.csv" || -e "$folder/windows/結果.csv" ]]; then
  cmp "$folder/linux/結果.csv" "$folder/windows/結果.csv" || fail "result files differ"
fi
# What the tool prints (the explanation), apart from the table's path.
if ! iconv -f CP932 -t UTF-8 "$work/windows.out" | tr -d '\r' | sed '/"gapTable"/d' |
  cmp -s - <(sed '/"gapTable"/d' "$work/linux.out"); then
  fail "standard output differs"
  diff <(sed '/"gapTable"/d' "$work/linux.out") \
    <(iconv -f CP932 -t UTF-8 "$work/windows.out" | tr -d '\r' | sed '/"gapTable"/d') || true
fi
if [[ -n $extra_file ]]; then
  if ! cmp -s <(sed '/"path"/d' "$folder/linux/$extra_file") <(sed '/"path"/d' "$folder/windows/$extra_file"); then
    fail "$extra_file differs"
    diff <(sed '/"path"/d' "$folder/linux/$extra_file") <(sed '/"path"/d' "$folder/windows/$extra_file") || true
  fi
  rm -f "$folder/linux/$extra_file" "$folder/windows/$extra_file"
fi
for side in linux windows; do
  entries=$(ls -A "$folder/$side")
  [[ $entries == "結果.csv" || ( -z $entries && ${#files[@]} -eq 0 ) || ( -z $entries && $linux_status -ne 0 ) ]] || fail "$side folder holds: $entries"
done
lines=0
[[ -e "$folder/linux/結果.csv" ]] && lines=$(wc -l <"$folder/linux/結果.csv")
echo "$name: exit $linux_status, $lines result lines, $(wc -c <"$input") input bytes"
exit $failed
