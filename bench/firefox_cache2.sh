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
root=$(pwd)
count=${1:-20000}
bytes=${2:-1G}
rounds=${HARVIX_BENCH_ROUNDS:-3}
build=${HARVIX_BUILD_DIR:-build}

[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package 'time')" >&2; exit 1; }
cmake --build "$build" --target harvix-cli harvix-mkcache >/dev/null
cli="$root/$build/src/harvix-cli"
mkcache="$root/$build/tools/mozcache/harvix-mkcache"

work=$(mktemp -d "${TMPDIR:-/tmp}/harvix-bench2.XXXXXX")
trap 'rm -rf "$work"' EXIT

measure() {
  sync -f "$work"
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt" || {
    cat "$work/stderr.txt" >&2
    return 1
  }
  cat "$work/time.txt"
}

faster() {
  if [ -z "$1" ] || awk -v a="${2% *}" -v b="${1% *}" 'BEGIN { exit !(a < b) }'; then
    echo "$2"
  else
    echo "$1"
  fi
}

report() { printf '   %-40s %8s s %9s KiB peak\n' "$1" $2; }

bench_size() {
  local n=$1 size=$2 cache="$work/cache2-$1"
  echo "== $n entry files, about $size of bodies"
  "$mkcache" --cache2 --synthetic "$n" --bytes "$size" "$cache" | sed 's/^/   /'
  printf '   cache2 folder: %s\n' "$(du -sh "$cache" | cut -f1)"
  printf '[GENERAL]\nHarvixFilter=1\n[FILTER_0]\nContentType=0\nDirectory=%s\nFileNameDummy=file\n' \
    "$work/combed" >"$work/all.flt"
  find "$cache" -type f -exec cat {} + >/dev/null   # warm: every command finds it in memory

  local list="" listed comb="" untar="" line ratios=""
  list=$(measure "$cli" list mozilla --cache "$cache")
  listed=$(wc -l <"$work/stdout.txt")
  # The archive of exactly what the comb keeps.
  rm -rf "$work/combed"
  "$cli" comb mozilla --cache "$cache" --filter "$work/all.flt" --one-copy \
    --no-skip-duplicates >/dev/null 2>&1
  tar -C "$work" -cf "$work/kept.tar" combed
  local -A seconds
  for round in $(seq "$rounds"); do
    list=$(faster "$list" "$(measure "$cli" list mozilla --cache "$cache")")
    local order=(comb tar)
    [ $((round % 2)) = 0 ] && order=(tar comb)
    for what in "${order[@]}"; do
      rm -rf "$work/combed" "$work/untar"
      case $what in
        comb) line=$(measure "$cli" comb mozilla --cache "$cache" --filter "$work/all.flt" \
                --one-copy --no-skip-duplicates)
              comb=$(faster "$comb" "$line") ;;
        tar) mkdir "$work/untar"
             line=$(measure tar -C "$work/untar" -xf "$work/kept.tar")
             untar=$(faster "$untar" "$line") ;;
      esac
      seconds[$what]=${line% *}
    done
    ratios+=$(awk -v a="${seconds[comb]}" -v c="${seconds[tar]}" \
      'BEGIN { printf " %.2f", (c > 0 ? a / c : 0) }')
  done
  report "harvix-cli list ($listed entries)" "$list"
  report "harvix-cli comb, everything kept" "$comb"
  report "tar x of the kept files" "$untar"
  printf '   comb/tar x time per round:%s; goal at most 1.1\n' "$ratios"
  printf '   kept: %s files, %s bytes\n' "$(tar -tf "$work/kept.tar" | grep -vc '/$')" \
    "$(du -sb "$work/untar" 2>/dev/null | cut -f1)"
  rm -rf "$work/combed" "$work/untar" "$work/kept.tar" "$cache"
}

echo "harvix Firefox cache2 benchmark, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)," \
  "best of $rounds rounds, in $work"
small_bytes=$(awk -v b="$bytes" -v n="$count" 'BEGIN {
  v = b + 0; u = substr(b, length(b)); m = (u == "G") ? 1024 : (u == "M") ? 1 : 1 / 1048576
  printf "%dM", v * m * 2000 / n + 1 }')
bench_size 2000 "$small_bytes"
bench_size "$count" "$bytes"
