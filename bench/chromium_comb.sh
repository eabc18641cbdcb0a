#!/usr/bin/env bash
# Chromium cache benchmark: writes a synthetic simple cache and a block-file
# cache of the same entries with harvix-mkchromecache (default 20,000
# entries of about 50 KB), then measures side by side in one run
#   - harvix-cli list chromium (header, key and tail of every entry file;
#     goals: 0.5 s for the simple cache, 0.2 s for the block files),
#   - harvix-cli comb chromium with a filter that keeps every entry, against
#     tar x of an archive holding exactly the files the comb keeps (goal:
#     the comb at most 1.1 times as long),
# with wall time and peak memory (/usr/bin/time), the best of a few rounds.
#
# Usage: bench/chromium_comb.sh [COUNT [BODY_BYTES]]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-20000}
body=${2:-50000}
targets=harvix-mkchromecache
. bench/lib.sh
mkcache="$root/$build/tools/chromecache/harvix-mkchromecache"

echo "harvix Chromium cache benchmark, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)," \
  "$rounds rounds, in $work"
for format in simple blockfile; do
  cache="$work/$format/Default/Cache/Cache_Data"
  flag=""
  [ $format = blockfile ] && flag=--blockfile
  "$mkcache" --synthetic "$count" --body "$body" $flag "$cache" >/dev/null
  echo "== $format cache: $count entries, $(du -sh "$cache" | cut -f1)"
  find "$cache" -type f -exec cat {} + >/dev/null
  list=""
  for round in $(seq "$rounds"); do
    list=$(faster "$list" "$(measure "$cli" list chromium --cache "$cache")")
  done
  report "harvix-cli list ($(wc -l <"$work/stdout.txt") entries)" "$list"
  comb_against_tar "harvix-cli comb, everything kept" chromium --cache "$cache" \
    --no-one-copy --no-skip-duplicates
  rm -rf "$work/$format"
done
