#!/usr/bin/env bash
# Login.exe under Wine: the first video preset lands in the install folder
# (written from the OpenGL renderer's name of the window), and a level
# picked in the video panel is saved into GameVideoSetting.ini.
source "$(dirname "$0")/e2e_lib.bash" "$1" "$2" "$0"

start_server
reset_machine
# A launcher folder that holds the client: it is the install folder.
LAUNCHER=$SCRATCH/launcher
make_launcher_folder "$LAUNCHER"
printf 'client' > "$LAUNCHER/Launcher.exe"
printf 'version:120' > "$LAUNCHER/kvnversion.ini"
INI=$LAUNCHER/GameVideoSetting.ini
setting() { tr -d '\r' < "$INI" | sed -n 's/^SettingValue=//p'; }

start_login "$LAUNCHER"
pid=$LAST_PID
win=$(wait_window 'Korvane安装程序' 120) || fail "no launcher window"
[ -f "$INI" ] || fail "no first video preset in the install folder"
first=$(setting)
case "$first" in [0-4]) ;; *) fail "first preset level '$first'" ;; esac
pass "first video preset written (level $first)"

# The five boxes sit in a row over the view; save is at (370, 500).
pick=3; [ "$first" = 3 ] && pick=1
xdotool mousemove --window "$win" 880 92 click 1           # video button (1004)
xdotool mousemove --window "$win" $((187 + 168 * pick)) 400 click 1
xdotool mousemove --window "$win" 423 513 click 1          # save (1010)
for _ in $(seq 1 120); do [ "$(setting)" = "$pick" ] && break; sleep 0.25; done
[ "$(setting)" = "$pick" ] || fail "the panel saved '$(setting)' instead of $pick"
tr -d '\r' < "$INI" | grep -qx 'SettingUpdate=1' || fail "SettingUpdate=1 missing after the save"
pass "level $pick picked in the panel and saved"

click_close_button "$win"
wait_exit "$pid" 30 || fail "the close button did not end the launcher"
