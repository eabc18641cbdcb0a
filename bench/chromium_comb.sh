#!/usr/bin/env bash
# Chromium cache benchmark: writes a synthetic simple cache and a block-file
# cache of the same entries with harvix-mkchromecache (default 20,000
# entries of about 50 KB), then measures
#   - harvix-cli list chromium (header, key and tail of every entry file),
#   - harvix-cli comb chromium with a filter that keeps every entry,
#   - tar x of an archive of the same body files, the yardstick for the comb
#     (the comb should take at most 1.1 times as long),
# with wall time and peak memory (/usr/bin/time), the best of a few rounds.
#
# Usage: bench/chromium_comb.sh [COUNT [BODY_BYTES]]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
count=${1:-20000}
body=${2:-50000}
rounds=${HARVIX_BENCH_ROUNDS:-3}
build=${HARVIX_BUILD_DIR:-build}

[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package 'time')" >&2; exit 1; }
cmake --build "$build" --target harvix-cli harvix-mkchromecache >/dev/null
cli="$root/$build/src/harvix-cli"
mkcache="$root/$build/tools/chromecache/harvix-mkchromecache"

work=$(mktemp -d "${TMPDIR:-/tmp}/harvix-bench.XXXXXX")
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
  if [ -z "$1" ] || awk -v a="${2% *}" -v b="${1% *}" 'BEGIN { exit !(a < b) }'; then echo "$2"; else echo "$1"; fi
}
report() { printf '   %-38s %8s s %9s KiB peak\n' "$1" $2; }

printf '[GENERAL]\nHarvixFilter=1\n[FILTER_0]\nContentType=0\nDirectory=%s\nFileNameDummy=file\n' \
  "$work/combed" >"$work/all.flt"
for format in simple blockfile; do
  cache="$work/$format/Default/Cache/Cache_Data"
  flag=""
  [ $format = blockfile ] && flag=--blockfile
  "$mkcache" --synthetic "$count" --body "$body" $flag "$cache" >/dev/null
  echo "== $format cache: $count entries, $(du -sh "$cache" | cut -f1)"
  tar -C "$cache" -cf "$work/$format.tar" .
  find "$cache" -type f -exec cat {} + >/dev/null
  list="" comb="" untar=""
  for round in $(seq "$rounds"); do
    list=$(faster "$list" "$(measure "$cli" list chromium --cache "$cache")")
    listed=$(wc -l <"$work/stdout.txt")
    rm -rf "$work/combed"
    comb=$(faster "$comb" "$(measure "$cli" comb chromium --cache "$cache" --filter "$work/all.flt" \
      --no-one-copy --no-skip-duplicates)")
    rm -rf "$work/untar" && mkdir "$work/untar"
    untar=$(faster "$untar" "$(measure tar -C "$work/untar" -xf "$work/$format.tar")")
  done
  report "list ($listed entries)" "$list"
  report "comb" "$comb"
  report "tar x of the cache folder" "$untar"
  awk -v c="${comb% *}" -v t="${untar% *}" 'BEGIN { printf "   comb / tar x: %.2f (goal at most 1.1)\n", (t > 0 ? c / t : 0) }'
done
