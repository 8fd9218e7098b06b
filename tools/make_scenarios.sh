#!/bin/bash
# Generated flood scenarios for trying and timing `velmora-batch --scenarios`:
# one input per return period (households identified by a mesh code in the
# ninth column; a rarer flood reaches more households and hits them harder)
# and the manifest in CP932, as Excel saves it.
#
#   tools/make_scenarios.sh FOLDER [HOUSEHOLDS] [RETURN PERIODS...]
#   tools/make_scenarios.sh /tmp/s 1000000 10 30 50 100 200
# EVERY_HOUSEHOLD=1 puts every household in every input (for timing: the
# same number of lines in each).
set -euo pipefail
folder=$1
households=${2:-1000}
shift $(( $# >= 2 ? 2 : 1 ))
periods=("$@")
[ ${#periods[@]} -gt 0 ] || periods=(10 100 1000)
mkdir -p "$folder"
largest=${periods[0]}
for t in "${periods[@]}"; do
  if awk -v a="$t" -v b="$largest" 'BEGIN { exit !(a > b) }'; then largest=$t; fi
done
manifest="シナリオ名,再現期間,入力ファイル\r\n"
for t in "${periods[@]}"; do
  # The same seed for every scenario: a household keeps its values and its
  # place in the flood plain (u); only the flood changes.
  awk -v n="$households" -v t="$t" -v tmax="$largest" -v every="${EVERY_HOUSEHOLD:-0}" 'BEGIN {
    srand(20261207)
    s = log(t) / log(tmax)
    printf "house,goods,income,assets,land,goodsvalue,price,consumption,mesh\r\n"
    for (i = 0; i < n; i++) {
      u = rand(); income = 1 + rand() * 15; assets = rand() * 25; land = rand() * 30
      value = 2 + rand() * 20; price = 5 + rand() * 40; consumption = 1 + rand() * 8
      if (u <= 1 - s && !every) continue  # not reached by this flood
      h = u * s
      # A few households the rarest flood leaves with a damage that is no
      # number: not computable there, so without an expected value.
      if (t == tmax && i % 997 == 500) {
        printf "%.3f,x,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,5339%06d\r\n", 20 * h, income, assets, land, value, price,
          consumption, i
        continue
      }
      printf "%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,5339%06d\r\n", 20 * h, 12 * h, income, assets, land,
        value, price, consumption, i
    }
  }' > "$folder/T$t.csv"
  manifest+="1/$t 年,$t,T$t.csv\r\n"
done
printf "$manifest" | iconv -f UTF-8 -t CP932 > "$folder/manifest.csv"
echo "$folder/manifest.csv: ${#periods[@]} scenarios of up to $households households"
