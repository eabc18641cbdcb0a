# Shared parts of the benchmark scripts: sourced, never run.
#
# A script sets `targets` (the CMake targets it needs) and sources this file
# from the project root; it then has
#   $cli, $build, $rounds, $work (removed on exit),
#   measure CMD...        runs CMD, prints "SECONDS KIB" (wall time, peak
#                         resident size); what earlier commands wrote is
#                         flushed first, outside the timing,
#   faster A B            the smaller of two "SECONDS KIB" lines,
#   report LABEL LINE     one aligned result line,
#   keep_all_filter FILE FOLDER   a filter file whose one item keeps every
#                         entry in FOLDER,
#   comb_against_tar LABEL CLI-ARGS...   combs with harvix-cli comb CLI-ARGS
#                         (a filter keeping everything in $work/combed) and
#                         untars an archive holding exactly the kept files,
#                         taking turns for $rounds rounds; prints both and
#                         the ratio of every round and their median, which
#                         it also leaves in $comb_median.
set -euo pipefail

root=$(pwd)
rounds=${HARVIX_BENCH_ROUNDS:-3}
build=${HARVIX_BUILD_DIR:-build}

[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package 'time')" >&2; exit 1; }
cmake --build "$build" --target harvix-cli ${targets:-} >/dev/null
cli="$root/$build/src/harvix-cli"

work=$(mktemp -d "${TMPDIR:-/tmp}/harvix-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

measure() {
  # Deleted trees and written files reach the disk (and its discards end)
  # before the clock starts, so that one command does not pay for another.
  sync -f "$work"
  sleep "${HARVIX_BENCH_SETTLE:-1}"
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

keep_all_filter() {
  printf '[GENERAL]\nHarvixFilter=1\n[FILTER_0]\nContentType=0\nDirectory=%s\nFileNameDummy=file\n' \
    "$2" >"$1"
}

comb_against_tar() {
  local label=$1
  shift
  keep_all_filter "$work/all.flt" "$work/combed"
  # The archive of exactly what the comb keeps.
  rm -rf "$work/combed"
  "$cli" comb "$@" --filter "$work/all.flt" >/dev/null 2>&1 || true
  tar -C "$work" -cf "$work/kept.tar" combed
  local comb="" untar="" line ratios="" round what
  local -A seconds
  for round in $(seq "$rounds"); do
    local order=(comb tar)
    [ $((round % 2)) = 0 ] && order=(tar comb)
    for what in "${order[@]}"; do
      rm -rf "$work/combed" "$work/untar"
      case $what in
        comb) line=$(measure "$cli" comb "$@" --filter "$work/all.flt")
              comb=$(faster "$comb" "$line") ;;
        tar) mkdir "$work/untar"
             line=$(measure tar -C "$work/untar" -xf "$work/kept.tar")
             untar=$(faster "$untar" "$line") ;;
      esac
      seconds[$what]=${line% *}
    done
    ratios+=$(awk -v a="${seconds[comb]}" -v c="${seconds[tar]}" \
      'BEGIN { printf " %.3f", (c > 0 ? a / c : 0) }')
  done
  report "$label" "$comb"
  report "tar x of the kept files" "$untar"
  printf '   kept: %s files, %s bytes\n' "$(tar -tf "$work/kept.tar" | grep -vc '/$')" \
    "$(tar -tvf "$work/kept.tar" | awk '{ s += $3 } END { print s }')"
  comb_median=$(tr ' ' '\n' <<<"$ratios" | grep . | sort -n | awk '{ v[NR] = $1 } END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  printf '   comb / tar x per round:%s; median %s\n' "$ratios" "$comb_median"
  rm -rf "$work/combed" "$work/untar" "$work/kept.tar"
}
