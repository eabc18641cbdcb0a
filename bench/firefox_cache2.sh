#!/usr/bin/env bash
# Firefox cache2 benchmark: writes synthetic cache2 folders with
# harvix-mkcache --cache2 (2,000 and COUNT entries, default 20,000 with
# about 1 GB of bodies: pictures, gzip- and br-encoded style sheets and
# scripts, larger files, a few redirects, 404s and partial responses), then
# measures side by side in one run
#   - harvix-cli list (one tail read per entry file; goal: 20,000 in 0.5 s),
#   - harvix-cli comb with a filter that keeps every entry (bodies decoded),
#   - tar x of an archive holding exactly the files the comb keeps, the
#     yardstick (goal: comb at most 1.1 times tar x),
# with wall time and peak memory (/usr/bin/time); peak memory should stay
# flat as the cache grows. Comb and tar take turns in every round.
#
# Usage: bench/firefox_cache2.sh [COUNT [BYTES]]     (BYTES like 1G, 256M)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-20000}
bytes=${2:-1G}
targets=harvix-mkcache
. bench/lib.sh
mkcache="$root/$build/tools/mozcache/harvix-mkcache"

bench_size() {
  local n=$1 size=$2 cache="$work/cache2-$1"
  echo "== $n entry files, about $size of bodies"
  "$mkcache" --cache2 --synthetic "$n" --bytes "$size" "$cache" | sed 's/^/   /'
  printf '   cache2 folder: %s\n' "$(du -sh "$cache" | cut -f1)"
  find "$cache" -type f -exec cat {} + >/dev/null   # warm: every command finds it in memory
  local list="" round
  for round in $(seq "$rounds"); do
    list=$(faster "$list" "$(measure "$cli" list mozilla --cache "$cache")")
  done
  report "harvix-cli list ($(wc -l <"$work/stdout.txt") entries)" "$list"
  comb_against_tar "harvix-cli comb, everything kept" mozilla --cache "$cache" \
    --one-copy --no-skip-duplicates
  rm -rf "$cache"
}

echo "harvix Firefox cache2 benchmark, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)," \
  "$rounds rounds, in $work"
small_bytes=$(awk -v b="$bytes" -v n="$count" 'BEGIN {
  v = b + 0; u = substr(b, length(b)); m = (u == "G") ? 1024 : (u == "M") ? 1 : 1 / 1048576
  printf "%dM", v * m * 2000 / n + 1 }')
bench_size 2000 "$small_bytes"
bench_size "$count" "$bytes"
