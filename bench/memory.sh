#!/usr/bin/env bash
# Peak memory as a cache grows: writes caches of 2,000 and COUNT (default
# 20,000) entries in each of the four on-disk formats, then measures the
# peak resident size (/usr/bin/time's %M) of
#   - harvix-cli list (the whole listing printed; its wall time too, the
#     best of HARVIX_BENCH_ROUNDS runs),
#   - harvix-cli comb with a filter that keeps every entry (Skip Duplicates
#     off: the synthetic Firefox caches hold thousands of bodies of one size,
#     and comparing each copy with all of them would take the time),
# and prints the goals beside the figures:
#   - every format, list and comb of COUNT entries: at most 30 MB;
#   - Chromium simple cache, list of COUNT entries with 4 KB response heads:
#     at most 1.5 times the peak at 2,000 (what an entry carries is not kept);
#   - Chromium block files, list of 2,000 entries with 12 KB bodies: at most 15 MB;
#   - listing COUNT entries: cache2 and the simple cache at most 0.5 s, block
#     files at most 0.2 s.
# Bodies are about 12 KB each (6 to 18 KB). The Firefox caches come from
# harvix-mkcache (the old format, and cache2 with --cache2), the Chromium
# ones from harvix-mkchromecache (simple cache, and --blockfile).
#
# Usage: bench/memory.sh [COUNT]
# HARVIX_BENCH_CLI names another harvix-cli to measure (an earlier build).
# Needs about 0.6 GB per 20,000 entries of free disk below ${TMPDIR:-/tmp}.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-20000}
targets="harvix-mkcache harvix-mkchromecache"
. bench/lib.sh
cli=${HARVIX_BENCH_CLI:-$cli}
mkcache="$root/$build/tools/mozcache/harvix-mkcache"
mkchromecache="$root/$build/tools/chromecache/harvix-mkchromecache"
keep_all_filter "$work/all.flt" "$work/combed"

# Writes the cache of FORMAT with N entries into FOLDER.
write_cache() {
  local format=$1 n=$2 folder=$3
  case $format in
    firefox-old) "$mkcache" --synthetic "$n" --bytes "$((n * 12))K" "$folder" ;;
    cache2) "$mkcache" --cache2 --synthetic "$n" --bytes "$((n * 12))K" "$folder" ;;
    simple) "$mkchromecache" --synthetic "$n" --body 12000 --head 4096 "$folder" ;;
    blockfile) "$mkchromecache" --synthetic "$n" --body 12000 --head 4096 --blockfile "$folder" ;;
  esac >/dev/null
}

# The peak in KiB of one command.
peak() {
  local line
  line=$(measure "$@")
  echo "${line#* }"
}

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# "ok" or "MISSED" for A <= B.
verdict() { awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b) ? "ok" : "MISSED" }'; }

# "1.23x ok" for the growth from A to B against a goal of 1.5 times.
growth() {
  awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx %s", b / a, (b <= 1.5 * a) ? "ok" : "MISSED" }'
}

mb30=$((30 * 1000 * 1000 / 1024))
echo "harvix peak memory, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), in $work"
printf '   %-12s %7s %9s %9s %7s   %s\n' format entries "list MiB" "comb MiB" "list s" goals
for format in firefox-old cache2 simple blockfile; do
  declare -A list=() comb=()
  for n in 2000 "$count"; do
    cache="$work/$format-$n/Default/Cache/Cache_Data"
    [ "$format" = cache2 ] && cache="$work/$format-$n/cache2"
    [ "$format" = firefox-old ] && cache="$work/$format-$n/Cache"
    browser=chromium
    case $format in firefox-old | cache2) browser=mozilla ;; esac
    write_cache "$format" "$n" "$cache"
    find "$work/$format-$n" -type f -exec cat {} + >/dev/null
    # The listing: its largest peak and its fastest time.
    seconds="" list[$n]=0
    for round in $(seq "$rounds"); do
      line=$(measure "$cli" list "$browser" --cache "$cache")
      seconds=$(faster "$seconds" "$line")
      [ "${line#* }" -gt "${list[$n]}" ] && list[$n]=${line#* }
    done
    rm -rf "$work/combed"
    comb[$n]=$(peak "$cli" comb "$browser" --cache "$cache" --filter "$work/all.flt" \
      --one-copy --no-skip-duplicates)
    rm -rf "$work/combed" "$work/$format-$n"
    goals=""
    if [ "$n" = "$count" ]; then
      goals="list and comb at most 30 MB: $(verdict "$((list[$n] > comb[$n] ? list[$n] : comb[$n]))" $mb30)"
      case $format in
        simple) goals+="; list at most 1.5x the peak at 2,000: $(growth "${list[2000]}" "${list[$n]}")" ;;
      esac
      case $format in
        cache2 | simple) goals+="; list at most 0.5 s: $(verdict "${seconds% *}" 0.5)" ;;
        blockfile) goals+="; list at most 0.2 s: $(verdict "${seconds% *}" 0.2)" ;;
      esac
    elif [ "$format" = blockfile ]; then
      goals="list at most 15 MB: $(verdict "${list[$n]}" $((15 * 1000 * 1000 / 1024)))"
    fi
    printf '   %-12s %7s %9s %9s %7s   %s\n' "$format" "$n" "$(mib "${list[$n]}")" \
      "$(mib "${comb[$n]}")" "${seconds% *}" "$goals"
  done
  unset list comb
done
