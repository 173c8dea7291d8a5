#!/usr/bin/env bash
# End to end on Linux: mode by arguments, single instance, a first start
# from nothing to the login page, and a second start that finds the install.
# Usage: first_start.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
source "$(dirname "$0")/lib.bash"
kvn_init "$1" "$2"
kvn_start_server
# A fresh account: no data folder (so no applications folder), no desktop.
rm -rf "$HOME/.local" "$HOME/Desktop"

# The launcher runs from a folder with Chinese letters in its name.
pkg="$state/游戏"
kvn_package_copy "$pkg"
cd "$pkg"

# Mode by argument count: one argument is the uninstaller, whatever it says.
# It first asks whether to uninstall (a box with the application's name).
for args in "-Uninstall" "foo"; do
  ./Login.exe "$args" & p=$!; pids+=($p)
  wait_for 200 window_of $p "Login" || fail "no uninstall question for '$args'"
  window_of $p "Korvane安装程序" >/dev/null 2>&1 && fail "'$args' made the launcher window"
  kill $p; wait $p 2>/dev/null || true
done

# First start: the client is installed on C: and the login page follows.
./Login.exe -Uninstall x & first=$!; pids+=($first)
wait_for 300 window_of $first "Korvane安装程序" || fail "no launcher window"
geometry=$(xdotool getwindowgeometry "$(window_of $first "Korvane安装程序" | head -1)")
echo "$geometry" | grep -q "Geometry: 1035x590" || fail "window geometry: $geometry"
wait_for 600 test -e "$inst/Launcher.exe" || fail "client not unpacked"
for f in Login.exe LauncherDlg.bmp Uninstall.list LoginExeVersionInfo.ini KVNClient.7z 7zr.exe \
         kvnversion.ini bin/npKVNWebPlayer.dll; do
  [ -e "$inst/$f" ] || fail "missing $f in the install folder"
done
wait_for 300 grep -qF 'Path=C:\\Korvanis\\bin\\npKVNWebPlayer.dll' "$XDG_CONFIG_HOME/korvane/registry.ini" \
  || fail "plug-in not registered"
grep -q 'X-Korvane-Arguments=-Uninstall' "$XDG_DATA_HOME/applications/Korvane/卸载游戏.desktop" \
  || fail "no uninstall link"
[ -x "$HOME/Desktop/Korvane.desktop" ] || fail "no desktop link"
# The account's missing folders were made owner-only.
for dir in "$HOME/.local" "$XDG_DATA_HOME" "$XDG_DATA_HOME/applications" "$HOME/Desktop"; do
  [ "$(stat -c %a "$dir")" = 700 ] || fail "$dir made with mode $(stat -c %a "$dir")"
done
# Every link starts the launcher in the install folder (skin, login.ini) and
# shows the launcher's icon, a PNG beside it.
for link in "$HOME/Desktop/Korvane.desktop" "$XDG_DATA_HOME/applications/Korvane/"{Korvane,卸载游戏}.desktop; do
  grep -qxF "Path=$inst" "$link" || fail "$link does not start in the install folder: $(grep ^Path= "$link")"
  grep -qxF "Icon=$inst/Login.png" "$link" || fail "$link names another icon: $(grep ^Icon= "$link")"
done
[ "$(identify -format '%m %wx%h' "$inst/Login.png")" = "PNG 32x32" ] || fail "the icon is not a 32x32 PNG"
wait_for 300 login_pages_at_least 1 || fail "login page not shown after installation"

# A second copy shows the already-running box and ends; the first stays.
./Login.exe & second=$!; pids+=($second)
wait_for 200 window_of $second "Korvane" || fail "no already-running box"
box=$(window_of $second "Korvane" | head -1)
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
wait_for 100 bash -c "! kill -0 $second" || fail "second copy did not end"
kill -0 $first || fail "first copy ended"
kill $first; wait $first 2>/dev/null || true

# Second start, from the start-menu entry as the desktop starts it (its Exec
# in its Path): the registry value finds the install, nothing is copied, and
# the operator's login.ini in the install folder gives the login page.
rm "$inst/Uninstall.list"
printf '%s' "$site/micro/?from=operator" > "$inst/login.ini"
gio launch "$XDG_DATA_HOME/applications/Korvane/Korvane.desktop" || fail "the start-menu entry did not start"
wait_for 300 grep -qF '"target": "/micro/?from=operator"' "$state/requests.log" \
  || fail "the start-menu start did not show the operator's login page"
again=$(find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$inst/Login.exe" 2>/dev/null | cut -d/ -f3 | head -1 || true)
[ -n "$again" ] || fail "no launcher started from the install folder"
[ "$(readlink "/proc/$again/cwd")" = "$inst" ] || fail "the start-menu start runs in $(readlink "/proc/$again/cwd")"
[ ! -e "$inst/Uninstall.list" ] || fail "files were copied again"
grep -q '"target": "/micro/waiting.php"' "$state/requests.log" || fail "waiting page never shown"
[ "$(grep -c '"target": "/micro/waiting.php"' "$state/requests.log")" -eq 1 ] || fail "waiting page on the second start"
echo "PASS"
