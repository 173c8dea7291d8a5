#!/usr/bin/env bash
# End to end on Linux: mode by arguments, single instance, a first start
# from nothing to the login page, and a second start that finds the install
# (drive C lies in a folder whose name holds a "%").
# Then a first installation killed (kill -9) at several points is finished
# by the next start, from the package, the desktop link or the start-menu
# link (only registered when the client was unpacked); a registration that
# fails is not done again by the next start; and the close button closes the window at once during installation,
# while a new start is let in and ends at the login page.
# Usage: first_start.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
source "$(dirname "$0")/lib.bash"
kvn_init "$1" "$2"
# Drive C's folder has a "%" in its name, which desktop entries must carry.
drive="$state/C%1"
mkdir -p "$drive"
export KORVANE_DRIVES="C=$drive"
inst="$drive/Korvanis"
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
         regsvr32 kvnversion.ini bin/npKVNWebPlayer.dll; do
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
kill $again; wait $again 2>/dev/null || true
echo "ok: first start, single instance, second start"

# ---- Installations cut short. 7zr.exe and regsvr32 wait at gates the
# checks open, so that a kill lands at a known point. Both are the package's
# own, which the launcher places in the install folder with itself.
gates=$state/gates; mkdir -p "$gates"
cat > "$pkg/regsvr32" <<GATE
#!/bin/sh
echo \$\$ >> "$gates/regsvr32.started"
while [ ! -e "$gates/regsvr32.go" ]; do sleep 0.02; done
exec "$build/standins/bin/regsvr32" "\$@"
GATE
cat > "$pkg/7zr.exe" <<GATE
#!/bin/sh
echo \$\$ >> "$gates/7zr.started"
while [ ! -e "$gates/7zr.go" ]; do sleep 0.02; done
exec "$(command -v 7zz)" "\$@"
GATE
chmod +x "$pkg/regsvr32" "$pkg/7zr.exe"
registry=$XDG_CONFIG_HOME/korvane/registry.ini
menu_link=$XDG_DATA_HOME/applications/Korvane/Korvane.desktop
desk_link=$HOME/Desktop/Korvane.desktop
registered() { grep -qF 'Path=C:\\Korvanis\\bin\\npKVNWebPlayer.dll' "$registry" 2>/dev/null; }
fresh_machine() {
  for p in $(kvn_strays); do kill -9 "$p" 2>/dev/null || true; done
  rm -rf "$inst" "$registry" "$gates"/* "$desk_link" "$(dirname "$menu_link")"
}
# Runs a link the way a desktop does: its Exec line (a string value, then
# "%%" for "%") in its Path folder.
start_link() {
  local exec dir
  exec=$(sed -n 's/^Exec=//p' "$1" | head -1 | sed 's/\\\\/\\/g; s/%%/%/g')
  dir=$(sed -n 's/^Path=//p' "$1" | head -1)
  eval "set -- $exec"
  (cd "${dir:-$HOME}" && exec "$@") & started=$!; pids+=($started)
}
# The next start finishes the installation: registered, login page shown,
# the unfinished mark gone.
expect_repaired() {
  local pages=$(requests_for /micro/) how=$1; shift
  touch "$gates/7zr.go" "$gates/regsvr32.go"
  "$@"
  wait_for 600 registered || fail "$how: plug-in not registered by the next start"
  wait_for 300 login_pages_at_least $((pages + 1)) || fail "$how: no login page after the repair"
  [ -e "$inst/Launcher.exe" ] && [ -e "$inst/bin/npKVNWebPlayer.dll" ] || fail "$how: client not unpacked"
  [ ! -e "$inst/install.unfinished" ] || fail "$how: installation still marked unfinished"
  [ "$(ls -d "$drive"/Korvanis* | wc -l)" = 1 ] || fail "$how: a second install folder"
  kill $started; wait $started 2>/dev/null || true
  echo "ok: killed $how: repaired by the next start"
}
from_package() { (cd "$pkg" && exec ./Login.exe) & started=$!; pids+=($started); }

# Killed while copying its files (before the extraction was asked for).
fresh_machine
(cd "$pkg" && exec ./Login.exe) & victim=$!; pids+=($victim)
wait_for 300 test -e "$inst/install.unfinished" || fail "no unfinished mark"
kill -9 $victim; wait $victim 2>/dev/null || true
expect_repaired "before the extraction, started again from the package" from_package

# Killed during 7zr.exe; the orphaned 7zr.exe then finishes unpacking, so
# Launcher.exe is there but the plug-in is not registered.
fresh_machine
(cd "$pkg" && exec ./Login.exe) & victim=$!; pids+=($victim)
wait_for 300 test -e "$gates/7zr.started" || fail "7zr.exe not started"
kill -9 $victim; wait $victim 2>/dev/null || true
touch "$gates/7zr.go"
wait_for 300 test -e "$inst/Launcher.exe" || fail "the orphaned 7zr.exe did not unpack"
rm -f "$gates/7zr.started"
registered && fail "registered without regsvr32"
expect_repaired "during 7zr.exe, started again from the desktop link" start_link "$desk_link"

# Killed between 7zr.exe and regsvr32 (regsvr32 never runs).
fresh_machine
touch "$gates/7zr.go"
(cd "$pkg" && exec ./Login.exe) & victim=$!; pids+=($victim)
wait_for 600 test -e "$gates/regsvr32.started" || fail "regsvr32 not started"
kill -9 $victim; wait $victim 2>/dev/null || true
kill -9 $(cat "$gates/regsvr32.started")
[ "$(cat "$inst/install.unfinished")" = unpacked ] || fail "the client was not marked unpacked"
expect_repaired "between 7zr.exe and regsvr32, started again from the start-menu link" start_link "$menu_link"
[ "$(wc -l < "$gates/7zr.started")" = 1 ] || fail "the repair unpacked the client again"
echo "ok: the repair only registered"

# ---- A registration that runs but fails counts as done: no message, the
# login page; the next start takes the login path and unpacks nothing.
fresh_machine
touch "$gates/7zr.go" "$gates/regsvr32.go"
pages=$(requests_for /micro/)
waits=$(requests_for /micro/waiting.php)
(cd "$pkg" && KORVANE_REGSVR32_FAIL=5 exec ./Login.exe) & failing=$!; pids+=($failing)
wait_for 600 test -e "$gates/regsvr32.started" || fail "regsvr32 not started"
wait_for 300 login_pages_at_least $((pages + 1)) || fail "no login page after a failed registration"
[ ! -e "$inst/install.unfinished" ] || fail "a failed registration left the installation unfinished"
registered && fail "registered although regsvr32 failed"
window_of $failing "Login" >/dev/null 2>&1 && fail "a message for a registration that ran"
kill $failing; wait $failing 2>/dev/null || true
start_link "$desk_link"
wait_for 300 login_pages_at_least $((pages + 2)) || fail "no login page on the start after a failed registration"
[ "$(requests_for /micro/waiting.php)" = $((waits + 1)) ] || fail "the next start took the installation path"
[ "$(wc -l < "$gates/7zr.started")" = 1 ] || fail "the next start unpacked the client again"
[ "$(wc -l < "$gates/regsvr32.started")" = 1 ] || fail "the next start registered again"
kill $started; wait $started 2>/dev/null || true
echo "ok: a failed registration counts as done; the next start goes to the login page"

# ---- The close button during installation: the window goes at once; the
# work in hand is finished in the background, and a new start meanwhile is
# let in, waits for it, and shows the login page.
fresh_machine
(cd "$pkg" && exec ./Login.exe) & closer=$!; pids+=($closer)
wait_for 300 test -e "$gates/7zr.started" || fail "7zr.exe not started"
win=$(window_of $closer "Korvane安装程序" | head -1)
[ -n "$win" ] || fail "no launcher window"
ms=$(python3 "$src/tests/linux/e2e/xwin.py" clickgone "$win" 993 93) || fail "the window stayed after the close click"
echo "close click to window gone: $ms ms"
kill -0 $closer || fail "the installation in hand was dropped"
pages=$(requests_for /micro/)
start_link "$desk_link"; second=$started
wait_for 300 window_of $second "Korvane安装程序" || fail "a new start during the background work was refused"
window_of $second "Korvane" >/dev/null 2>&1 && fail "a new start was told the launcher runs already"
touch "$gates/7zr.go" "$gates/regsvr32.go"
wait_exit $closer 600 || fail "the closed launcher did not end after its installation"
wait_for 300 login_pages_at_least $((pages + 1)) || fail "the new start showed no login page"
registered || fail "plug-in not registered"
[ ! -e "$inst/install.unfinished" ] || fail "installation still marked unfinished"
[ "$(wc -l < "$gates/7zr.started")" = 1 ] || fail "the client was unpacked twice at once"
echo "ok: closed during installation: window gone at once, installation finished, new start let in"
echo "PASS"
