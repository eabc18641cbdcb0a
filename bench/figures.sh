#!/usr/bin/env bash
# The comb's memory and speed figures for the four on-disk formats (the old
# Firefox cache, cache2, the Chromium simple cache and block files), each
# beside its goal, in one run:
#   - memory and listing time: bench/memory.sh COUNT (the peak of list and
#     comb at 2,000 and COUNT entries, listing times at COUNT);
#   - speed: a cache of COMB_COUNT (default 6,000) entries of mixed sizes per
#     format, combed with a filter that keeps everything, against tar x of an
#     archive holding exactly the kept files; comb and tar x take turns after
#     sync for HARVIX_BENCH_ROUNDS rounds (default 7), and the median of the
#     rounds' ratios is the figure (goal: at most 0.95).
# Caches: harvix-mkcache --synthetic COMB_COUNT --bytes (20 KB an entry)
# --small 90 (old format, nine in ten in the block files), --cache2 (bodies
# a tenth to twice 20 KB, some encoded); harvix-mkchromecache --synthetic
# COMB_COUNT --body 20000 --mixed (a tenth to twice 20 KB; with --blockfile
# those under 16 KB lie in the block files, the others in files of their own).
#
# Usage: bench/figures.sh [COUNT [COMB_COUNT]]
# HARVIX_BENCH_CLI names another harvix-cli to measure (an earlier build).
# Takes some 15 minutes on two cores; needs about 2 GB of free disk below
# ${TMPDIR:-/tmp}.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-20000}
comb_count=${2:-6000}
export HARVIX_BENCH_ROUNDS=${HARVIX_BENCH_ROUNDS:-7}
targets="harvix-mkcache harvix-mkchromecache"
. bench/lib.sh
cli=${HARVIX_BENCH_CLI:-$cli}
mkcache="$root/$build/tools/mozcache/harvix-mkcache"
mkchromecache="$root/$build/tools/chromecache/harvix-mkchromecache"

echo "== memory"
bench/memory.sh "$count"

echo "== comb of $comb_count entries of mixed sizes against tar x of the kept files," \
  "$rounds rounds, load $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A medians=()
bytes="$((comb_count * 20))K"
for format in firefox-old cache2 simple blockfile; do
  browser=chromium
  cache="$work/$format/Default/Cache/Cache_Data"
  case $format in
    firefox-old)
      browser=mozilla cache="$work/$format/Cache"
      "$mkcache" --synthetic "$comb_count" --bytes "$bytes" --small 90 "$cache" ;;
    cache2)
      browser=mozilla cache="$work/$format/cache2"
      "$mkcache" --cache2 --synthetic "$comb_count" --bytes "$bytes" "$cache" ;;
    simple) "$mkchromecache" --synthetic "$comb_count" --body 20000 --mixed "$cache" ;;
    blockfile) "$mkchromecache" --synthetic "$comb_count" --body 20000 --mixed --blockfile "$cache" ;;
  esac >/dev/null
  echo "-- $format: $(du -sh "$work/$format" | cut -f1) in $(find "$work/$format" -type f | wc -l) files"
  find "$work/$format" -type f -exec cat {} + >/dev/null
  comb_against_tar "harvix-cli comb, everything kept" "$browser" --cache "$cache" \
    --no-one-copy --no-skip-duplicates
  medians[$format]=$comb_median
  rm -rf "$work/$format"
done

echo "== comb / tar x, median of $rounds rounds (goal at most 0.95)"
for format in firefox-old cache2 simple blockfile; do
  printf '   %-12s %6s %s\n' "$format" "${medians[$format]}" \
    "$(awk -v r="${medians[$format]}" 'BEGIN { print (r <= 0.95) ? "ok" : "MISSED" }')"
done
