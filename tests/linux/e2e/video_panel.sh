#!/usr/bin/env bash
# End to end on Linux: the launcher writes the first video preset into the
# install folder; its video button opens the five-level panel over the web
# view, a picked level is saved into GameVideoSetting.ini, and the panel's
# close button goes back to the login page without saving.
# Usage: video_panel.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.bash"
kvn_init "$1" "$2"
kvn_start_server
kvn_seed_install

ini="$inst/GameVideoSetting.ini"
setting() { sed -n 's/^SettingValue=\(.*\)$/\1/p' "$ini" | tr -d '\r'; }
# No window manager runs under Xvfb: the watcher records the iconify
# requests that one would act on.
python3 "$here/xwin.py" watch "$state/wm.log" & pids+=($!)
wait_for 100 grep -q '^ready$' "$state/wm.log" || fail "window-manager watcher did not start"
pkg="$state/package"
kvn_package_copy "$pkg"
cd "$pkg"
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 window_of $pid 'Korvane安装程序' || fail "no launcher window"
win=$(window_of $pid 'Korvane安装程序' | head -1)
[ -f "$ini" ] || fail "no first preset in the install folder"
grep -q '^SettingUpdate=1' "$ini" || fail "the first preset has no SettingUpdate=1"
first=$(setting)
case "$first" in [0-4]) ;; *) fail "first preset level '$first'" ;; esac
echo "ok: first preset written (level $first)"

# The panel's boxes sit in a row of five over the view; level 3 is the
# fourth. Save is at (370, 500), close at (568, 500), both 105 x 26.
pick=3; [ "$first" = 3 ] && pick=1
box_x=$((187 + 168 * pick))
click_in "$win" 880 92                  # the video button (1004)
click_in "$win" "$box_x" 400            # a level box
click_in "$win" 423 513                 # save (1010)
wait_for 100 test "$(setting)" = "$pick" ||
  fail "the panel saved '$(setting)' instead of $pick"
echo "ok: level $pick picked in the panel and saved"

# Close without saving keeps the stored level.
other=0; [ "$pick" = 0 ] && other=4
click_in "$win" 880 92
click_in "$win" $((187 + 168 * other)) 400
click_in "$win" 621 513                 # close (1011)
# The minimise button (1001) is a barrier: its iconify request, seen by
# the watcher, comes after the window has handled the clicks before it.
click_in "$win" 963 93
wait_for 100 test "$(grep -c "^$win 3\$" "$state/wm.log" || true)" -ge 1 ||
  fail "the minimise button sent no iconify request"
[ "$(setting)" = "$pick" ] || fail "closing the panel stored '$(setting)'"
echo "ok: the close button leaves the stored level as it was"
kill -0 $pid 2>/dev/null || fail "the launcher ended"
