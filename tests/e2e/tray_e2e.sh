#!/usr/bin/env bash
# End-to-end run of the installed tray program, as a person would use it:
# under a virtual X server with a tray host, it
#   - installs the build into a private prefix and starts from there;
#   - starts hidden, with only its tray icon;
#   - shows the main window on a left click on the icon;
#   - combs a written Firefox cache into the filter's folders when the
#     "Comb Mozilla" button is pressed, with the progress window moving,
#     and tells what it kept in a notice;
#   - combs each Chromium-family browser's written cache by itself when a
#     process named like that browser (a copy of sleep) starts and ends,
#     and tells it in a notice;
#   - refuses a second copy;
#   - ends the running copy on "harvix Close", its settings saved.
# Screenshots of the main window, its list menu, the tray menu, the
# progress window and the notice land in the screenshots folder.
#
# Everything runs with its own HOME, XDG folders and X display, so nothing
# touches the user's files or desktop. Exit code 77 (skipped) when Xvfb,
# trayer or xdotool is missing (Debian: apt-get install xvfb trayer xdotool).
#
# Usage: tray_e2e.sh --build DIR --mkcache PATH --mkchromecache PATH --grab PATH
#                    --screenshots DIR
set -euo pipefail

build= mkcache= mkchromecache= grab= shots=
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --mkcache) mkcache=$2; shift 2 ;;
    --mkchromecache) mkchromecache=$2; shift 2 ;;
    --grab) grab=$2; shift 2 ;;
    --screenshots) shots=$2; shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
[ -n "$build" ] && [ -n "$mkcache" ] && [ -n "$mkchromecache" ] && [ -n "$grab" ] &&
  [ -n "$shots" ] || {
  echo "usage: tray_e2e.sh --build DIR --mkcache PATH --mkchromecache PATH --grab PATH" \
    "--screenshots DIR" >&2
  exit 2
}

for tool in Xvfb trayer xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (apt-get install xvfb trayer xdotool)"
    exit 77
  fi
done

# "harvix Close" ends the first other process named harvix on the machine.
# Run in a process namespace of our own where one can be had, so that the
# test neither finds nor ends a copy that someone else runs (another test
# run, the user's own tray program); the kernel also ends everything the
# test started when it ends. A network namespace of its own keeps its X
# server's socket apart too: an X server in another process namespace (a
# test run beside this one) takes this one's lock file for stale, and both
# then serve one display number.
if [ -z "${HARVIX_E2E_ISOLATED:-}" ]; then
  export HARVIX_E2E_ISOLATED=1
  for how in "--pid --fork --mount-proc --net" "--pid --fork --mount-proc" \
    "--user --map-root-user --pid --fork --mount-proc --net" \
    "--user --map-root-user --pid --fork --mount-proc"; do
    # shellcheck disable=SC2086
    if unshare $how true 2>/dev/null; then
      # shellcheck disable=SC2086
      exec unshare $how bash "$0" --build "$build" --mkcache "$mkcache" \
        --mkchromecache "$mkchromecache" --grab "$grab" --screenshots "$shots"
    fi
  done
  echo "note: no process namespace available; a running harvix elsewhere may be ended"
fi

root=$(mktemp -d /tmp/harvix-e2e.XXXXXX)
pids=()
cleanup() {
  local status=$?
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[$i]}" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  if [ $status -ne 0 ] && [ -d "$root" ]; then
    echo "--- files of the failed run:" >&2
    find "$root/config" "$root/home/HX_FILES" -maxdepth 3 2>/dev/null | head -40 >&2 || true
    cat "$root/harvix.log" >&2 2>/dev/null || true
    echo "--- the X server:" >&2
    tail -20 "$root/xvfb.log" >&2 2>/dev/null || true
  fi
  rm -rf "$root"
  exit $status
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() {
  echo "== $*"
}
# Waits until the command succeeds; fails with the message after `seconds`.
wait_for() {
  local seconds=$1 message=$2
  shift 2
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $end ] || fail "$message"
    sleep 0.1
  done
}

# ---- A private world ----
export HOME=$root/home
export XDG_CONFIG_HOME=$root/config
export XDG_CACHE_HOME=$root/home/.cache
export XDG_RUNTIME_DIR=$root/run
export XDG_DATA_HOME=$root/home/.local/share
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Harvix" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WINEPREFIX SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS
export QT_QPA_PLATFORM=xcb
export NO_AT_BRIDGE=1

step "install into a private prefix"
prefix=$root/inst
cmake --install "$build" --prefix "$prefix" >/dev/null
hx=$prefix/bin/harvix
# The Chromium family as the browser table has it, one row a line: word,
# settings key, process, cache root, display name (blanks written "_").
family=$("$prefix/bin/harvix-cli" help browsers --table |
  awk -F'\t' '$2 == "chromium" { gsub(/ /, "_", $6); print $1, $3, $4, $5, $6 }')
[ -n "$family" ] || fail "harvix-cli names no Chromium-family browser"
[ -x "$hx" ] || fail "harvix was not installed"
[ -f "$prefix/share/applications/harvix.desktop" ] || fail "no desktop entry installed"
[ -f "$prefix/share/icons/hicolor/scalable/apps/harvix.svg" ] || fail "no icon installed"
[ -f "$prefix/share/harvix/help/index.html" ] || fail "no help installed"

step "write a Firefox cache and a filter set"
profile=$XDG_CACHE_HOME/mozilla/firefox/e2etest.default
cache=$profile/Cache
mkdir -p "$cache"
description=$root/cache.txt
png=0 jpg=0 html=0
{
for i in $(seq 0 239); do
  # Pictures of many sizes (every one different, so none is a duplicate).
  w=$((24 + i)) h=$((16 + i % 97))
  printf '[entry]\nurl = http://pics.example.org/img/%d.png\ntype = image/png\ndata = png %d %d\n\n' \
    "$i" "$w" "$h"
  png=$((png + 1))
  w=$((40 + i)) h=$((30 + (i * 7) % 90))
  printf '[entry]\nurl = http://photos.example.org/%d.jpg\ntype = image/jpeg\ndata = jpeg %d %d\n\n' \
    "$i" "$w" "$h"
  if [ $w -ge 100 ] && [ $h -ge 60 ]; then
    jpg=$((jpg + 1))
  fi
  if [ $((i % 3)) -eq 0 ]; then
    printf '[entry]\nurl = http://news.example.org/keep/%d.html\ntype = text/html\ndata = text <html><p>page %d</p></html>\n\n' \
      "$i" "$i"
    html=$((html + 1))
  else
    printf '[entry]\nurl = http://ads.example.org/%d.html\ntype = text/html\ndata = text <html>ad %d</html>\n\n' \
      "$i" "$i"
  fi
  # Data no item wants.
  printf '[entry]\nurl = http://cdn.example.org/%d.bin\ntype = application/octet-stream\ndata = random 20000 %d\n\n' \
    "$i" "$i"
done
# Bulk that the PNG item keeps, so that the run lasts long enough to watch
# its progress window.
for i in $(seq 0 1199); do
  printf '[entry]\nurl = http://bulk.example.org/%d.png\ntype = image/png\ndata = random 40000 %d\n\n' \
    "$i" "$((1000 + i))"
  png=$((png + 1))
done
} >"$description"
"$mkcache" "$description" "$cache" >/dev/null

filter=$root/e2e.flt
cat >"$filter" <<'EOF'
[GENERAL]
HarvixFilter=1
Hint=End-to-end filter

[FILTER_0]
ContentType=3
Disabled=0
MinSize=0
URL=
MinWeidth=0
MinHeight=0
Directory=~/HX_FILES/png
FileNameDummy=pic

[FILTER_1]
ContentType=1
Disabled=0
MinSize=0
URL=
MinWeidth=100
MinHeight=60
Directory=~/HX_FILES/jpg
FileNameDummy=photo

[FILTER_2]
ContentType=8
Disabled=0
MinSize=0
URL=/keep/
MinWeidth=0
MinHeight=0
Directory=~/HX_FILES/pages/%DATE%
FileNameDummy=page

[FILTER_3]
ContentType=2
Disabled=0
MinSize=0
URL=
MinWeidth=0
MinHeight=0
Directory=~/HX_FILES/chromium
FileNameDummy=anim
EOF
cfg=$XDG_CONFIG_HOME/Harvix/Harvix.cfg
cat >"$cfg" <<EOF
[GENERAL]
Mozilla=0
MozillaCachePath=
IE=0
Maxthon=0
$(while read -r _ key _; do echo "$key=1"; done <<<"$family")
FiltersFileName=$filter
ShowNotifyProgressBar=1
NotifyProgressBarOnCenter=1
NotifyProgressTransparency=255
StartWithWindowsStartUp=0
EOF

has_trayer() { xdotool search --onlyvisible --class trayer >/dev/null 2>&1; }
# Mapped windows of the program, one per line: id x y width height name.
windows() {
  local id
  for id in $(xdotool search --onlyvisible --class harvix 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    echo "$id $X $Y $WIDTH $HEIGHT $(xdotool getwindowname "$id" 2>/dev/null)"
  done
}
main_window() { windows | awk '$6 == "Harvix" && $7 == "-"' | head -1; }
tray_icon() { windows | awk '$4 <= 64 && $5 <= 64' | head -1; }
progress_window() { windows | awk '$4 > 64 && $5 < 120 && $6 == "Harvix" && $7 == ""' | head -1; }
about_box() { windows | awk '$6 == "About"' | head -1; }
has_about_box() { [ -n "$(about_box)" ]; }
no_about_box() { [ -z "$(about_box)" ]; }
has_main_window() { [ -n "$(main_window)" ]; }
has_tray_icon() { [ -n "$(tray_icon)" ]; }
has_progress_window() { [ -n "$(progress_window)" ]; }
no_progress_window() { [ -z "$(progress_window)" ]; }
shot() { # name [x y w h]
  "$grab" "$shots/$1.png" "${@:2}" || fail "screenshot $1"
}
click() { # x y button
  xdotool mousemove "$1" "$2" sleep 0.1 click "$3"
}
count_files() { # folder pattern
  find "$1" -type f -name "$2" 2>/dev/null | wc -l
}
step "start a virtual X server and a tray host"
exec 5< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>"$root/xvfb.log")
xvfb_pid=$!
pids+=("$xvfb_pid")
read -r -t 15 display <&5 || fail "Xvfb did not start"
export DISPLAY=:$display
trayer --edge top --align right --widthtype request --height 32 --transparent false \
  --tint 0xdddddd --SetDockType false --expand true >"$root/trayer.log" 2>&1 &
trayer_pid=$!
pids+=("$trayer_pid")
wait_for 15 "trayer did not show" has_trayer

mkdir -p "$shots"

step "start hidden with a tray icon"
"$hx" >"$root/harvix.log" 2>&1 &
hx_pid=$!
pids+=("$hx_pid")
wait_for 20 "no tray icon appeared" has_tray_icon
sleep 0.5
has_main_window && fail "the main window shows at start"
kill -0 "$hx_pid" || fail "harvix ended at start"
read -r _ tx ty tw th _ <<<"$(tray_icon)"
shot e2e-tray-icon $((tx - 8)) $((ty - 4)) $((tw + 16)) $((th + 8))

step "a second start leaves one process"
second_started=$SECONDS
"$hx" >>"$root/harvix.log" 2>&1 || fail "the second start did not end cleanly"
[ $((SECONDS - second_started)) -le 10 ] || fail "the second start took too long"
running=$(pgrep -c -f "^$hx\$" || true)
[ "$running" = 1 ] || fail "expected one harvix process, found $running"
kill -0 "$hx_pid" || fail "the second start ended the first copy"

step "the tray menu"
click $((tx + tw / 2)) $((ty + th / 2)) 3
sleep 0.8
shot e2e-tray-menu $((1024 - 440)) 0 440 300

step "the about box from the tray menu"
# From the menu's end: Exit, then About.
xdotool key Up sleep 0.1 key Up sleep 0.1 key Return
wait_for 10 "the about box did not show" has_about_box
sleep 0.3
read -r _ ax ay aw ah _ <<<"$(about_box)"
shot e2e-about "$ax" "$ay" "$aw" "$ah"
xdotool key Escape
wait_for 10 "the about box did not close" no_about_box

step "a left click shows the main window"
click $((tx + tw / 2)) $((ty + th / 2)) 1
wait_for 10 "the main window did not show" has_main_window
sleep 0.5
read -r _ wx wy ww wh title <<<"$(main_window)"
case "$title" in
  *"- [$filter]") ;;
  *) fail "unexpected title: $title" ;;
esac
shot e2e-main-window "$wx" "$wy" "$ww" "$wh"
# The tooltip of the "Comb Mozilla" button.
xdotool mousemove $((wx + ww * 414 / 440)) $((wy + wh * 12 / 278))
sleep 1.5
shot e2e-tooltip "$((wx + ww / 2))" "$wy" "$((ww / 2 + 250))" 140
xdotool mousemove $((wx + 20)) $((wy + wh - 20))
sleep 0.3

step "the list's menu"
# The first row of the list: below the button row and the list's header.
row_x=$((wx + ww * 120 / 440))
row_y=$((wy + wh * 27 / 278 + 36))
click "$row_x" "$row_y" 1
sleep 0.3
click "$row_x" "$row_y" 3
sleep 0.8
shot e2e-list-menu "$wx" "$wy" "$ww" "$wh"
xdotool key Escape
sleep 0.3

step "comb the Firefox cache from the window"
# A watcher catches the progress window while the run lasts: up to three
# pictures of it, taken as fast as the X server answers.
rm -f "$shots"/e2e-progress-*.png
watch_progress() {
  local n=0 end=$((SECONDS + 60)) line
  while [ $n -lt 3 ] && [ $SECONDS -lt $end ]; do
    line=$(progress_window)
    if [ -n "$line" ]; then
      read -r pid px py pw ph _ <<<"$line"
      n=$((n + 1))
      if [ $n = 1 ]; then
        # The window takes no input: the pointer over it is over the window
        # below, which gets the clicks.
        xdotool mousemove $((px + pw / 2)) $((py + ph / 2))
        eval "$(xdotool getmouselocation --shell 2>/dev/null)"
        echo "$pid $WINDOW" >"$root/under-pointer.log"
      fi
      "$grab" "$shots/e2e-progress-$n.png" "$px" "$py" "$pw" "$ph" 2>/dev/null || true
      echo "$n $px $py $pw $ph"
      sleep 0.05
    fi
  done
}
watch_progress >"$root/progress.log" &
watcher=$!
comb_x=$((wx + ww * 414 / 440))
comb_y=$((wy + wh * 12 / 278))
click "$comb_x" "$comb_y" 1
wait_for 120 "the comb run did not end" bash -c "[ \$(find '$HOME/HX_FILES/png' -type f | wc -l) -ge $png ]"
wait_for 20 "the progress window stayed" no_progress_window
kill "$watcher" 2>/dev/null || true
wait "$watcher" 2>/dev/null || true
[ -s "$root/progress.log" ] || fail "the progress window was never seen"
read -r progress_id under_id <"$root/under-pointer.log" || fail "no pointer check on the progress window"
# Opaque, it takes the pointer's clicks: its Cancel button can be pressed.
[ "$progress_id" = "$under_id" ] || fail "the progress window does not take the pointer's clicks"
echo "progress window seen $(wc -l <"$root/progress.log") time(s): $(head -1 "$root/progress.log")"
if [ -f "$shots/e2e-progress-2.png" ] && cmp -s "$shots/e2e-progress-1.png" "$shots/e2e-progress-2.png"; then
  echo "note: the progress bar looked the same in the first two pictures"
fi
got_png=$(count_files "$HOME/HX_FILES/png" 'pic*.png')
got_jpg=$(count_files "$HOME/HX_FILES/jpg" 'photo*.jpg')
got_html=$(count_files "$HOME/HX_FILES/pages" 'page*.html')
echo "kept: $got_png png (of $png), $got_jpg jpg (expected $jpg), $got_html html (expected $html)"
[ "$got_png" = "$png" ] || fail "png files: $got_png, expected $png"
[ "$got_jpg" = "$jpg" ] || fail "jpg files: $got_jpg, expected $jpg"
[ "$got_html" = "$html" ] || fail "html files: $got_html, expected $html"
dated=$(find "$HOME/HX_FILES/pages" -mindepth 1 -maxdepth 1 -type d -name '[0-9][0-9].[0-9][0-9].[0-9][0-9][0-9][0-9]' | wc -l)
[ "$dated" = 1 ] || fail "no dated folder for the pages"
grep -q '^MozillaCachePath=$' "$cfg" || fail "the settings file changed before the exit"
# The run's notice, also written on standard error.
kept=$((got_png + got_jpg + got_html))
wait_for 10 "no notice of the Firefox run" \
  grep -q "^harvix: Mozilla Firefox: comb finished: Files kept: $kept, in ~/HX_FILES/png" \
  "$root/harvix.log"

step "each Chromium-family browser that closes is combed by itself, with a notice"
# One stand-in per row of the family, named as that browser's process is
# (a copy of sleep), each with a cache where that browser keeps it. All run
# at once and end together: each monitor sees its own browser close, and
# each run combs that browser's cache only.
# word settings-key process cache-root display-name (see above)
mkdir -p "$root/bin"
standins=()
n=0
while read -r word _ process cache_root _; do
  n=$((n + 1))
  mkdir -p "$XDG_CACHE_HOME/$cache_root/Default/Cache/Cache_Data" "$root/bin/$word"
  cp "$(command -v sleep)" "$root/bin/$word/$process"
  "$root/bin/$word/$process" 120 &
  standins+=($!)
  pids+=($!)
done <<<"$family"
# The monitors look every two seconds; what each browser caches from then on
# is combed when it closes.
sleep 3
now=$(date +%s)
n=0
while read -r word _ process cache_root _; do
  n=$((n + 1))
  {
    for i in 1 2 3; do
      # Pictures of sizes no other browser's cache has: none is a duplicate.
      printf '[entry]\nurl = http://%s.example.org/anim%d.gif\ntype = image/gif\nbody = gif %d %d\ntime = %d\n\n' \
        "$word" "$i" "$((20 + i))" "$((10 * n))" "$now"
    done
    printf '[entry]\nurl = http://%s.example.org/old.gif\ntype = image/gif\nbody = gif 9 %d\ntime = 1000000000\n\n' \
      "$word" "$n"
  } >"$root/$word.txt"
  "$mkchromecache" "$root/$word.txt" "$XDG_CACHE_HOME/$cache_root/Default/Cache/Cache_Data" >/dev/null
done <<<"$family"
for pid in "${standins[@]}"; do
  kill "$pid"
  wait "$pid" 2>/dev/null || true
done
wait_for 60 "the family's caches were not all combed" \
  bash -c "[ \$(find '$HOME/HX_FILES/chromium' -type f -name 'anim*.gif' 2>/dev/null | wc -l) = $((3 * n)) ]"
while read -r word _ _ _ display; do
  wait_for 10 "no notice of the ${display//_/ } run" \
    grep -q "^harvix: ${display//_/ }: comb finished: Files kept: 3, in ~/HX_FILES/chromium; Click to open ~/HX_FILES/chromium$" \
    "$root/harvix.log"
done <<<"$family"
sleep 0.5
shot e2e-notice $((1024 - 480)) 0 480 220

step "harvix Close ends the running copy, its settings saved"
"$hx" Close >>"$root/harvix.log" 2>&1 || fail "harvix Close failed"
end=$((SECONDS + 20))
while kill -0 "$hx_pid" 2>/dev/null; do
  [ $SECONDS -lt $end ] || fail "the running copy did not end"
  sleep 0.1
done
status=0
wait "$hx_pid" || status=$?
[ "$status" = 0 ] || fail "the running copy ended with status $status"
grep -qx "MozillaCachePath=$cache" "$cfg" ||
  fail "the discovered cache folder was not saved: $(grep MozillaCachePath "$cfg")"
running=$(pgrep -c -f "^$hx\$" || true)
[ "$running" = 0 ] || fail "a harvix process is still running"
[ ! -e "$XDG_CONFIG_HOME/autostart/Harvix.desktop" ] || fail "an autostart entry was written"

step "without a tray host the window shows, and closing it ends the program"
kill "$trayer_pid" 2>/dev/null || true
wait "$trayer_pid" 2>/dev/null || true
"$hx" >>"$root/harvix.log" 2>&1 &
hx_pid=$!
pids+=("$hx_pid")
wait_for 20 "the main window did not show without a tray host" has_main_window
sleep 0.5
xdotool key Escape
end=$((SECONDS + 20))
while kill -0 "$hx_pid" 2>/dev/null; do
  [ $SECONDS -lt $end ] || fail "closing the only window did not end the program"
  sleep 0.1
done

echo "screenshots: $shots"
echo "e2e: all steps passed"
