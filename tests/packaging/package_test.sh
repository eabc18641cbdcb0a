#!/usr/bin/env bash
# The Debian package of this build tree, unpacked into a throw-away root as
# `dpkg -x` does and run from there: the installed programs find their data
# under <root>/usr/share/harvix, keep their settings in ~/.config/Harvix/,
# and the autostart entry the tray program writes names the installed path
# and passes desktop-file-validate. The root's path holds a blank and a %,
# which the entry must quote and escape. lintian finds no error.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR HARVIX_MKCACHE tray|no-tray
#   (no-tray: the build has no tray program, so the package holds none)
set -euo pipefail
src=$1 build=$2 mkcache=$3 tray=${4:-tray}

for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (./scripts/deps installs it)"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/harvix pkg 100%.XXXXXX")
tray_pid=
cleanup() {
  [ -n "$tray_pid" ] && kill "$tray_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
has_tray=0
[ "$tray" = tray ] && has_tray=1

# 1. The package, from what this tree built.
start=$(date +%s)
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$work/out/harvix_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/out"; echo "FAIL: no $(basename "$deb")"; exit 1; }
echo "built $(basename "$deb") in $(($(date +%s) - start)) s"

# 2. What it holds and what it depends on.
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
want=(/usr/bin/harvix-cli /usr/share/harvix/Langs/English.lng /usr/share/harvix/Langs/German.lng
      /usr/share/harvix/Langs/Russian.lng /usr/share/harvix/Filters/Default.flt
      /usr/share/harvix/help/index.html /usr/share/man/man1/harvix-cli.1.gz
      /usr/share/bash-completion/completions/harvix-cli
      /usr/share/doc/harvix/copyright /usr/share/doc/harvix/changelog.gz)
if [ "$has_tray" = 1 ]; then
  want+=(/usr/bin/harvix /usr/share/man/man1/harvix.1.gz /usr/share/applications/harvix.desktop
         /usr/share/icons/hicolor/scalable/apps/harvix.svg
         /usr/share/metainfo/io.github.harvix.Harvix.metainfo.xml)
  for size in 16 22 24 32 48 64 128 256; do
    want+=("/usr/share/icons/hicolor/${size}x${size}/apps/harvix.png")
  done
fi
for path in "${want[@]}"; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6' <<<"$depends" || fail "Depends has no libc6 (shlibdeps not run?): $depends"
if [ "$has_tray" = 1 ]; then
  grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends has no libqt6widgets6: $depends"
  grep -q 'libqt6svg6' <<<"$depends" || fail "Depends has no libqt6svg6 (the SVG plugins): $depends"
fi
echo "Depends: $depends"

# 3. lintian: errors fail the test, the rest is shown.
start=$(date +%s)
lintian_out=$(lintian --fail-on error --display-info "$deb" 2>&1) || fail "lintian reports errors"
[ -z "$lintian_out" ] || printf 'lintian:\n%s\n' "$lintian_out"
echo "lintian took $(($(date +%s) - start)) s"

# 4. Unpacked into a root of its own and run from there, with a home of its own.
root="$work/root"
dpkg -x "$deb" "$root"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" LC_ALL=C.UTF-8
unset XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME WINEPREFIX
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
cli="$root/usr/bin/harvix-cli"

out=$("$cli" --version)
[[ $out == "harvix-cli "[0-9]* ]] || fail "harvix-cli --version says '$out'"

# A comb of a sample cache with the default filter file of the package.
"$mkcache" "$src/resources/demo/sample-cache.txt" "$work/cache" >/dev/null
if kept=$("$cli" comb mozilla --cache "$work/cache" 2>"$work/comb.err"); then
  [ -n "$kept" ] || fail "the comb with the installed default filter kept nothing: $(cat "$work/comb.err")"
  while IFS= read -r file; do
    [[ $file == "$HOME/HX_FILES/"* && -s $file ]] || fail "kept file '$file' is not below ~/HX_FILES"
  done <<<"$kept"
else
  fail "harvix-cli comb failed: $(cat "$work/comb.err")"
fi
[ ! -e "$root/usr/bin/Harvix.cfg" ] || fail "the installed harvix-cli wrote settings beside itself"

# The installed English language file names the extra information in English:
# a target folder that cannot be made (below a file) is told as the tray
# program's box tells it. A cache that does not open is told in the command
# line's own words, never with the tray program's Options dialog.
touch "$work/blocked"
printf '[GENERAL]\nHarvixFilter=1\n[FILTER_0]\nContentType=0\nDisabled=0\nMinSize=0\nURL=\nMinWeidth=0\nMinHeight=0\nDirectory=%s\nFileNameDummy=f\n' \
  "$work/blocked/x" >"$work/blocked.flt"
said=$("$cli" comb mozilla --cache "$work/cache" --filter "$work/blocked.flt" 2>&1 || true)
grep -q 'Extra information' <<<"$said" || fail "no English label for the system's text; harvix-cli said: $said"
said=$("$cli" comb mozilla --cache "$work/no-cache" 2>&1 || true)
grep -q 'name the cache folder with --cache' <<<"$said" && ! grep -q 'Options' <<<"$said" ||
  fail "a cache that does not open is not told in harvix-cli's words: $said"

# Settings from ~/.config/Harvix/Harvix.cfg: its language file's texts.
mkdir -p "$HOME/.config/Harvix"
printf '[GENERAL]\nLanguage=%s\n' "$root/usr/share/harvix/Langs/German.lng" >"$HOME/.config/Harvix/Harvix.cfg"
said=$("$cli" comb mozilla --cache "$work/cache" --filter "$work/blocked.flt" 2>&1 || true)
grep -q 'Der Ordner kann nicht angelegt werden' <<<"$said" && grep -q 'Weitere Angaben' <<<"$said" || fail "German settings not used; harvix-cli said: $said"
rm "$HOME/.config/Harvix/Harvix.cfg"

# The tray program: it writes its settings and the autostart entry at start.
if [ "$has_tray" = 1 ]; then
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/harvix" >"$work/tray.log" 2>&1 &
  tray_pid=$!
  cfg="$HOME/.config/Harvix/Harvix.cfg"
  entry="$HOME/.config/autostart/Harvix.desktop"
  for _ in $(seq 100); do
    [ -s "$cfg" ] && [ -s "$entry" ] && break
    kill -0 "$tray_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -TERM "$tray_pid" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$tray_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$tray_pid" 2>/dev/null && fail "harvix did not end on SIGTERM"
  tray_pid=
  if [ -s "$cfg" ]; then
    grep -qxF "Language=$root/usr/share/harvix/Langs/English.lng" "$cfg" ||
      fail "harvix did not find its language file under <root>/usr/share/harvix: $(grep Language= "$cfg")"
  else
    fail "harvix wrote no ~/.config/Harvix/Harvix.cfg: $(cat "$work/tray.log")"
  fi
  if [ -s "$entry" ]; then
    desktop-file-validate "$entry" || fail "the autostart entry does not validate: $(cat "$entry")"
    exec_line=$(grep '^Exec=' "$entry")
    want_exec="Exec=\"${root//%/%%}/usr/bin/harvix\""
    [ "$exec_line" = "$want_exec" ] || fail "autostart $exec_line, expected $want_exec"
  else
    fail "harvix wrote no autostart entry"
  fi
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package: contents, dependencies, lintian and the installed programs are fine"
