#!/usr/bin/env bash
# Login.exe under Wine: the choice of window by the command line, the
# launcher window's size, the web control's document mode, the
# single-instance box, the keys that must not close the launcher and the
# close button that does. A screenshot of the
# window is left in the build folder (launcher-wine.png).
source "$(dirname "$0")/e2e_lib.bash" "$1" "$2" "$0"

start_server
reset_machine
# A launcher folder that holds the client, so no installation runs here.
LAUNCHER=$SCRATCH/launcher
make_launcher_folder "$LAUNCHER"
printf 'client' > "$LAUNCHER/Launcher.exe"
printf 'version:120' > "$LAUNCHER/kvnversion.ini"

# One argument, whatever it is, gives the uninstaller. It first asks
# whether to uninstall (a box with the application's name "Login"); Esc
# answers Cancel there, and Esc in the uninstall window is its cancel button:
# either way the uninstaller ends without touching anything.
# The first also shows which common controls the running program loaded:
# its manifest asks for version 6, which Wine keeps in its side-by-side
# folder (the system folder's copy is the old version).
for arg in -Uninstall foo; do
  if [ "$arg" = -Uninstall ]; then
    WINEDEBUG=+loaddll WINE_LOG=$SCRATCH/loaddll.log start_login "$LAUNCHER" "$arg"
  else
    start_login "$LAUNCHER" "$arg"
  fi
  pid=$LAST_PID
  seen=
  for _ in $(seq 1 240); do
    kill -0 "$pid" 2>/dev/null || break
    window_exists 'Korvane安装程序' && fail "argument $arg: the launcher window was made"
    if box=$(xdotool search --name '^Login$' 2>/dev/null | head -1) && [ -n "$box" ]; then
      seen=${seen:-question}
      key_to "$box" Escape
    elif dlg=$(xdotool search --onlyvisible --name '^卸载程序$' 2>/dev/null | head -1) && [ -n "$dlg" ]; then
      seen=${seen:-window}
      key_to "$dlg" Escape
    fi
    sleep 0.25
  done
  kill -0 "$pid" 2>/dev/null && fail "argument $arg: the uninstaller did not end on Esc"
  [ -n "$seen" ] || fail "argument $arg: neither the uninstall question nor its window was shown"
  pass "argument $arg: uninstaller ($seen first), ended by Esc"
  if [ "$arg" = -Uninstall ]; then
    comctl=$(grep -i 'Loaded L".*\\comctl32\.dll"' "$SCRATCH/loaddll.log" | head -1 | sed 's/.*Loaded L"\([^"]*\)".*/\1/')
    case "$comctl" in
      *'microsoft.windows.common-controls_6595b64144ccf1df_6.'*) ;;
      '') fail "the uninstaller loaded no common controls" ;;
      *) fail "the uninstaller loaded the old common controls: $comctl" ;;
    esac
    pass "the uninstaller runs with Common Controls 6: $comctl"
  fi
done

# Two arguments: the launcher.
start_login "$LAUNCHER" -Uninstall x
pid=$LAST_PID
win=$(wait_window 'Korvane安装程序' 60) || fail "two arguments: no launcher window"
window_exists '卸载程序' && fail "two arguments: an uninstall window was made"
click_close_button "$win"
wait_exit "$pid" 30 || fail "two arguments: the close button did not end the launcher"
pass "two arguments: launcher window"

# No argument: the launcher window, 1035 x 590.
start_login "$LAUNCHER"
first=$LAST_PID
win=$(wait_window 'Korvane安装程序' 60) || fail "no argument: no launcher window"
geometry=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')
[ "$geometry" = "1035x590" ] || fail "launcher window is $geometry, not 1035x590"
pass "launcher window 1035x590"
sleep 1  # let the first paint finish before the picture is taken
import -window root "$BUILD/launcher-wine.png"
# The background is painted, and its key colour RGB(64, 64, 64) (the
# picture's corner) lets the root window show through.
eval "$(xdotool getwindowgeometry --shell "$win")"
pixel() { convert "$BUILD/launcher-wine.png" -format "%[pixel:p{$(($X + $1)),$(($Y + $2))}]" info:; }
root=$(convert "$BUILD/launcher-wine.png" -format '%[pixel:p{1279,799}]' info:)
[ "$(pixel 2 2)" = "$root" ] || fail "key colour corner shows $(pixel 2 2), not the root's $root"
[ "$(pixel 500 300)" != "$root" ] && [ "$(pixel 500 300)" != "srgb(64,64,64)" ] || fail "the web view area is not painted"
[ "$(pixel 20 570)" = "$(convert "$SRC/standins/site/download/LauncherDlg.bmp" -format '%[pixel:p{20,570}]' info:)" ] ||
  fail "the background picture is not drawn at its place"
pass "background drawn, key colour transparent"

# The web browser control's document mode: the build's value under the
# program's own name, or none when the build names none.
mode=$(sed -n 's/^KVN_IE_DOCUMENT_MODE:STRING=//p' "$BUILD/CMakeCache.txt")
emulation=$(wine reg query 'HKCU\Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION' \
  /v Login.exe 2>/dev/null | tr -d '\r' | awk '$1 == "Login.exe" { print $2, $3 }' || true)
if [ -n "$mode" ]; then
  [ "$emulation" = "REG_DWORD $(printf '0x%x' "$mode")" ] || fail "document mode $mode not set for Login.exe: '$emulation'"
else
  [ -z "$emulation" ] || fail "a build without a document mode set one: '$emulation'"
fi
pass "document mode: ${mode:-none set}"

# A second copy shows "Korvane" and ends once the box is dismissed; the
# first copy keeps its window.
start_login "$LAUNCHER"
second=$LAST_PID
box=$(wait_window Korvane 60) || fail "second copy: no already-running box"
kill -0 "$second" 2>/dev/null || fail "second copy ended before its box was dismissed"
press_until_exit "$second" Korvane Return 30 || fail "second copy did not end after its box"
[ "$(exit_code_of "$second")" = 0 ] || fail "second copy ended with $(exit_code_of "$second")"
[ "$(xdotool search --name '^Korvane安装程序$' | head -1)" = "$win" ] || fail "first window gone after the second copy"
kill -0 "$first" 2>/dev/null || fail "first copy ended by the second"
pass "second copy refused, first unaffected"

# Enter, Esc and Alt+F4 keep the launcher open.
# The window's input is handled in order: once a level picked in the video
# panel (button 1004, a box, save 1010) is in GameVideoSetting.ini, the key
# before it has been handled too.
INI=$LAUNCHER/GameVideoSetting.ini
[ -f "$INI" ] || fail "no first video preset"
# Each pick differs from what the file holds, so the file shows the save.
level=$(tr -d '\r' < "$INI" | sed -n 's/^SettingValue=//p')
case "$level" in [0-4]) ;; *) level=0 ;; esac
input_handled() {
  level=$(( (level + 1) % 5 ))
  xdotool mousemove --window "$win" 880 92 click 1 \
    mousemove --window "$win" $((187 + 168 * level)) 400 click 1 \
    mousemove --window "$win" 423 513 click 1
  for _ in $(seq 1 120); do
    tr -d '\r' < "$INI" | grep -qx "SettingValue=$level" && return 0
    kill -0 "$first" 2>/dev/null || return 0
    sleep 0.25
  done
  return 1
}
for key in Return Escape alt+F4; do
  key_to "$win" "$key"
  input_handled || fail "the window stopped handling input after $key"
  kill -0 "$first" 2>/dev/null || fail "$key ended the launcher"
  window_exists 'Korvane安装程序' || fail "$key closed the launcher window"
done
pass "Enter, Esc, Alt+F4 keep the launcher"

# The close button ends it, with exit code 0.
click_close_button "$win"
wait_exit "$first" 30 || fail "the close button did not end the launcher"
[ "$(exit_code_of "$first")" = 0 ] || fail "launcher ended with $(exit_code_of "$first")"
pass "close button ends the launcher"

# A new copy starts once the first has ended.
start_login "$LAUNCHER"
again=$LAST_PID
win=$(wait_window 'Korvane安装程序' 60) || fail "no launcher window after the first copy ended"
click_close_button "$win"
wait_exit "$again" 30 || fail "the restarted launcher did not close"
pass "restart after the first copy ended"
