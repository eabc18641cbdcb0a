#!/usr/bin/env bash
# Firefox cache benchmark: writes a synthetic cache with harvix-mkcache
# (default 20,000 entries, about 1 GB: a quarter small items in the block
# files, the rest separate files), then measures in one run
#   - harvix-cli list (the map walk and every metadata item),
#   - harvix-cli comb with a filter that keeps every entry, Skip Duplicates
#     on and off,
#   - cp -r of the same cache folder, the yardstick for the comb,
# with wall time and peak memory (/usr/bin/time). The three copies take
# turns in every round, so that a busy disk weighs on all of them alike;
# the comb should take at most 1.3 times as long as the copy. Its peak
# memory should not grow with the data: the script repeats everything on a
# cache of the same entry count with a quarter of the data.
# Last, a cache of 6,000 entries of mixed sizes, nine in ten in the block
# files: its comb against tar x of an archive holding exactly the files the
# comb keeps (goal: at most 1.05 times as long).
#
# Usage: bench/mozilla_comb.sh [COUNT [BYTES]]     (BYTES like 1G, 256M)
# Needs about three times BYTES of free disk below ${TMPDIR:-/tmp}.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-20000}
bytes=${2:-1G}
targets=harvix-mkcache
. bench/lib.sh
mkcache="$root/$build/tools/mozcache/harvix-mkcache"

bench_size() {
  local size=$1 cache="$work/cache-$1"
  echo "== $count entries, $size of data"
  "$mkcache" --synthetic "$count" --bytes "$size" "$cache" | sed 's/^/   /'
  printf '   cache folder: %s in %s files\n' "$(du -sh "$cache" | cut -f1)" \
    "$(find "$cache" -type f | wc -l)"
  keep_all_filter "$work/all.flt" "$work/combed"
  # Read everything once, so that every command finds the cache in memory.
  find "$cache" -type f -exec cat {} + >/dev/null

  local list="" listed on="" off="" copy="" line ratios=""
  list=$(measure "$cli" list mozilla --cache "$cache")
  listed=$(wc -l <"$work/stdout.txt")
  # The disk of a shared machine grows slower or faster over a run: every
  # round takes the three copies in another order, and each round's ratio
  # compares copies made close together.
  local -A seconds
  for round in $(seq "$rounds"); do
    list=$(faster "$list" "$(measure "$cli" list mozilla --cache "$cache")")
    local order=(on off cp)
    order=("${order[@]:$(((round - 1) % 3))}" "${order[@]:0:$(((round - 1) % 3))}")
    for what in "${order[@]}"; do
      rm -rf "$work/combed" "$work/copy"
      case $what in
        on) line=$(measure "$cli" comb mozilla --cache "$cache" --filter "$work/all.flt" \
              --one-copy --skip-duplicates)
            on=$(faster "$on" "$line") ;;
        off) line=$(measure "$cli" comb mozilla --cache "$cache" --filter "$work/all.flt" \
              --one-copy --no-skip-duplicates)
            off=$(faster "$off" "$line") ;;
        cp) line=$(measure cp -r "$cache" "$work/copy")
            copy=$(faster "$copy" "$line") ;;
      esac
      seconds[$what]=${line% *}
    done
    ratios+=$(awk -v a="${seconds[on]}" -v b="${seconds[off]}" -v c="${seconds[cp]}" \
      'BEGIN { printf " %.2f/%.2f", a / c, b / c }')
  done
  rm -rf "$work/copy" "$work/combed"
  "$cli" comb mozilla --cache "$cache" --filter "$work/all.flt" --no-skip-duplicates \
    >/dev/null 2>&1
  report "harvix-cli list ($listed entries)" "$list"
  report "harvix-cli comb, Skip Duplicates on" "$on"
  report "harvix-cli comb, Skip Duplicates off" "$off"
  report "cp -r of the cache folder" "$copy"
  printf '   comb/cp time per round (on/off):%s; goal at most 1.3\n' "$ratios"
  printf '   combed: %s files, %s bytes\n' "$(find "$work/combed" -type f | wc -l)" \
    "$(du -sb "$work/combed" | cut -f1)"
  rm -rf "$work/combed" "$cache"
}

echo "harvix Firefox cache benchmark, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)," \
  "best of $rounds rounds, in $work"
bench_size "$bytes"
# The same number of entries with a quarter of the data: the comb's peak
# memory should stay where it was.
quarter=$(awk -v b="$bytes" 'BEGIN {
  n = b + 0; u = substr(b, length(b)); m = (u == "G") ? 1024 : (u == "M") ? 1 : 1 / 1048576
  printf "%dM", n * m / 4 }')
bench_size "$quarter"

echo "== 6000 entries of mixed sizes, 90% in the block files"
"$mkcache" --synthetic 6000 --bytes 120M --small 90 "$work/mixed" | sed 's/^/   /'
find "$work/mixed" -type f -exec cat {} + >/dev/null
comb_against_tar "harvix-cli comb, everything kept" mozilla --cache "$work/mixed" \
  --no-one-copy --no-skip-duplicates
