#!/usr/bin/env bash
# End to end on Linux: after a whole first start, the uninstall link's
# command (Login.exe -Uninstall from the install folder) asks first, then
# unregisters the plug-in, removes the listed files and folders and the
# links, keeps the skin and the running launcher, and its button, now
# "确定", ends it with 0. A list that covers the launcher's folder keeps the
# running launcher.
# A hostile list and links to outside folders cost no file outside the
# install folder.
# Usage: uninstall.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.bash"
kvn_init "$1" "$2"
kvn_start_server

pkg="$state/package"
kvn_package_copy "$pkg"
cd "$pkg"
./Login.exe & first=$!; pids+=($first)
wait_for 300 window_of $first "Korvane安装程序" || fail "no launcher window"
registry=$XDG_CONFIG_HOME/korvane/registry.ini
wait_for 600 grep -qF 'Path=C:\\Korvanis\\bin\\npKVNWebPlayer.dll' "$registry" || fail "plug-in not registered"
menu=$XDG_DATA_HOME/applications/Korvane
[ -e "$menu/卸载游戏.desktop" ] && [ -e "$HOME/Desktop/Korvane.desktop" ] || fail "links not made"
wait_for 300 login_pages_at_least 1 || fail "login page not shown after installation"
kill $first; wait $first 2>/dev/null || true
echo "ok: installed"

# Hostile set-ups: siblings that entries without a leading separator would
# name, steps up in every spelling, links (listed, inside a listed folder,
# on the way to a listed name, in the start-menu folder) to outside folders
# and files, and a folder literally named "..\.." inside bin.
outside=("$state/C/Korvanis2" "$state/C/KorvanisBackup" "$state/C/Windows" "$state/elsewhere" "$state/C/Users")
for o in "${outside[@]}"; do mkdir -p "$o/sub"; echo keep > "$o/a.txt"; echo keep > "$o/sub/b.txt"; done
echo keep > "$state/C/root.txt"
printf '2\r\nBackup\r\n\\..\\Windows\r\n/../Windows\r\n\\...\\Windows\r\n\\.. \\Windows\r\n' >> "$inst/Uninstall.list"
printf '\\bin\\..\\..\\Users\r\n\\toElsewhere\r\n\\viaLink\\a.txt\r\n\\C:\\Windows\r\n' >> "$inst/Uninstall.list"
ln -s "$state/elsewhere" "$inst/toElsewhere"
ln -s "$state/C/Windows" "$inst/viaLink"
ln -s "$state/C/Users" "$inst/bin/users"
ln -s "$state/C/root.txt" "$inst/bin/root.lnk"
ln -s "$state/C/Korvanis2" "$menu/Korvanis2"
mkdir -p "$inst/bin/..\\.."; echo x > "$inst/bin/..\\../x.txt"
count_outside() { { find "${outside[@]}" -type f; echo "$state/C/root.txt"; } | xargs -d '\n' ls 2>/dev/null | wc -l; }
before=$(count_outside)

cd "$inst"
./Login.exe -Uninstall & un=$!; pids+=($un)
wait_for 200 window_of $un "Login" || fail "no uninstall question"
dismiss_box $un Login || fail "the question did not take Enter (OK)"
wait_for 300 bash -c "[ ! -e '$inst/Launcher.exe' ] && [ ! -e '$inst/bin' ]" || fail "listed files not removed"
wait_for 100 bash -c "! grep -q '^Path=' '$registry'" || fail "plug-in not unregistered"
wait_for 100 bash -c "[ ! -e '$menu' ] && [ ! -e '$HOME/Desktop/Korvane.desktop' ]" || fail "links not removed"
for f in kvnversion.ini KVNClient.7z 7zr.exe; do [ ! -e "$inst/$f" ] || fail "$f left"; done
for f in LauncherDlg.bmp Login.exe; do [ -e "$inst/$f" ] || fail "$f removed"; done
[ ! -e "$inst/Login.png" ] || fail "the links' icon Login.png was left"
echo "ok: plug-in unregistered, listed files and links removed, skin and launcher kept"
lost=$((before - $(count_outside)))
echo "files lost outside the install folder: $lost (of $before)"
[ "$lost" = 0 ] || fail "$lost files outside the install folder were removed"
[ -L "$inst/viaLink" ] || fail "an unlisted link was removed"
for l in toElsewhere bin/users bin/root.lnk; do [ ! -L "$inst/$l" ] || fail "link $l left"; done
[ ! -e "$inst/bin/..\\.." ] || fail "the folder named ..\\.. was left"
echo "ok: links removed as links, nothing outside touched"

# The one button is the default one: Enter presses it.
win=$(window_of $un "卸载程序" | head -1)
[ -n "$win" ] || fail "no uninstall window"
xdotool windowfocus --sync "$win" 2>/dev/null || true
for _ in $(seq 20); do
  kill -0 $un 2>/dev/null || break
  xdotool key --window "$win" Return 2>/dev/null || true
  wait_for 5 bash -c "! kill -0 $un" && break
done
wait_exit $un 100 || fail "the uninstaller did not end"
[ "$exit_code" = 0 ] || fail "the uninstaller ended with $exit_code"
echo "ok: the uninstaller ends with 0"

# A list that covers the launcher's folder, and the launcher by name: the
# running launcher is logged and stays, and so does its folder; the rest of
# the folder goes.
mkdir -p "$menu" "$inst/sub"
echo x > "$inst/extra.txt"; echo y > "$inst/sub/y.txt"
printf '\\Login.exe\r\n\r\n' > "$inst/Uninstall.list"
./Login.exe -Uninstall & un=$!; pids+=($un)
wait_for 300 window_of $un "Login" || fail "no uninstall question (second run)"
dismiss_box $un Login || fail "the question did not take Enter (second run)"
# The start-menu folder goes after the list: the walk is over then.
wait_for 300 bash -c "[ ! -e '$menu' ]" || fail "the second run did not finish"
for f in extra.txt sub Uninstall.list LoginExeVersionInfo.ini; do [ ! -e "$inst/$f" ] || fail "$f left in the launcher's folder"; done
[ -e "$inst/Login.exe" ] || fail "the running launcher was removed"
[ -e "$inst/LauncherDlg.bmp" ] || fail "the skin was removed"
kill -0 $un || fail "the launcher ended during the run"
kill $un; wait $un 2>/dev/null || true
echo "ok: a list covering the launcher's folder keeps the running launcher and its folder"
