#!/usr/bin/env bash
# Login.exe under Wine, first start and login: with the client missing, the
# launcher (run from a folder named 游戏) creates C:\Korvanis and copies its
# package there before its window shows; with the client present nothing is
# copied, and a login page address carrying "?user=" hands the login to the
# game client (kvnlogin.dat, Launcher.exe started) and ends with code 0.
# The installed uninstaller, given a hostile list (and a junction to an
# outside folder when this Wine can make one), removes nothing outside
# C:\Korvanis. A registration that fails counts as done: the next start
# goes to the login page without unpacking the client again.
source "$(dirname "$0")/e2e_lib.bash" "$1" "$2" "$0"

start_server
INSTALL=$DRIVE_C/Korvanis

# ---- client missing: installation into C:\Korvanis
reset_machine
FOLDER=$SCRATCH/游戏
make_launcher_folder "$FOLDER"
start_login "$FOLDER"
pid=$LAST_PID
win=$(wait_window 'Korvane安装程序' 120) || fail "client missing: no launcher window"
[ -d "$INSTALL" ] || fail "C:\\Korvanis was not created"
for f in $PACKAGE_FILES login.ini; do
  [ -f "$INSTALL/$f" ] || fail "$f was not copied into C:\\Korvanis"
  cmp -s "$FOLDER/$f" "$INSTALL/$f" || fail "$f in C:\\Korvanis differs from the launcher's copy"
done
pass "client missing: C:\\Korvanis created, package copied from 游戏 before the window showed"
ini=$INSTALL/GameVideoSetting.ini
[ -f "$ini" ] || fail "no first video preset in C:\\Korvanis"
tr -d '\r' < "$ini" | grep -qx 'SettingUpdate=1' || fail "the first video preset has no SettingUpdate=1"
tr -d '\r' < "$ini" | grep -qx 'SettingValue=[0-4]' || fail "the first video preset has no level 0-4"
pass "first video preset written: $(tr -d '\r' < "$ini" | grep SettingValue)"
[ -n "$(DESKTOP_LINKS)" ] || fail "no desktop shortcut"
# All three links start the launcher in the install folder, where it finds
# its skin and login.ini.
workdir=$(link_string "$(DESKTOP_LINKS | head -1)" workdir)
[ "$workdir" = 'C:\Korvanis' ] || fail "the desktop link starts in '$workdir'"
for link in Korvane.lnk 卸载游戏.lnk; do
  file=$(ls "$DRIVE_C"/users/*/AppData/Roaming/Microsoft/Windows/'Start Menu'/Programs/Korvane/"$link" 2>/dev/null | head -1)
  [ -n "$file" ] || fail "no start-menu link $link"
  workdir=$(link_string "$file" workdir)
  [ "$workdir" = 'C:\Korvanis' ] || fail "start-menu link $link starts in '$workdir'"
done
[ "$(link_string "$file" args)" = '-Uninstall' ] || fail "the uninstall link has no -Uninstall"
pass "desktop shortcut and the two start-menu links made, all starting in C:\Korvanis"
if [ "$PACKAGE" = "$BUILD/package" ]; then
  # The install worker unpacks the client archive in the background, then
  # registers the plug-in; once it is done the login page is navigated.
  wait_file "$INSTALL/Launcher.exe" 120 || fail "the client archive was not unpacked"
  for f in kvnversion.ini bin/npKVNWebPlayer.dll; do
    wait_file "$INSTALL/$f" 60 || fail "$f was not unpacked"
  done
  pass "client unpacked by the install worker"
  for _ in $(seq 1 240); do
    grep -q '"target": "/micro/",' "$SCRATCH/server.log" && break
    sleep 0.25
  done
  grep -q '"target": "/micro/",' "$SCRATCH/server.log" || fail "the login page was not navigated after the installation"
  grep -q '"target": "/micro/waiting.php"' "$SCRATCH/server.log" || fail "the waiting page was not shown"
  window_exists 'Korvane' && fail "the install worker showed a message box"
  reg=$(wine reg query 'HKCU\SOFTWARE\MozillaPlugins\korvane.net/KVNWebPlayer' /v Path 2>/dev/null | tr -d '\r')
  echo "$reg" | grep -qF 'C:\Korvanis\bin\npKVNWebPlayer.dll' || fail "the plug-in was not registered: $reg"
  pass "plug-in registered by regsvr32, waiting page then login page navigated, no error box"
fi
click_close_button "$win"
wait_exit "$pid" 30 || fail "client missing: the close button did not end the launcher"

if [ "$PACKAGE" = "$BUILD/package" ]; then
  # ---- the uninstaller over a hostile list
  OUTSIDE="$DRIVE_C/Korvanis2 $DRIVE_C/KorvanisBackup $DRIVE_C/Outside $DRIVE_C/Korvanis.old"
  for o in $OUTSIDE; do mkdir -p "$o/sub"; echo keep > "$o/a.txt"; echo keep > "$o/sub/b.txt"; done
  printf '2\r\nBackup\r\n.old\r\n\\..\\Outside\r\n/../Outside\r\n\\...\\Outside\r\n\\.. \\Outside\r\n' >> "$INSTALL/Uninstall.list"
  printf '\\bin\\..\\..\\Outside\r\n\\C:\\Outside\r\n\\\\?\\C:\\Outside\r\n\\\\.\\C:\\Outside\r\n' >> "$INSTALL/Uninstall.list"
  printf '\\..\\Korvanis2\\a.txt\r\n\\*\r\n\\..\\*\r\n\\jn\r\n' >> "$INSTALL/Uninstall.list"
  # Junctions to an outside folder, listed and inside a listed folder.
  junctions=0
  for j in jn bin/jn; do
    wine cmd /c mklink /J "C:\\Korvanis\\${j/\//\\}" 'C:\Outside' >/dev/null 2>&1 || true
    [ -e "$INSTALL/$j" ] && junctions=$((junctions + 1))
  done
  [ "$junctions" = 0 ] && echo "note: this Wine cannot make a junction (mklink /J fails); none checked"
  before=$(find $OUTSIDE -type f | wc -l)
  start_login "$INSTALL" -Uninstall
  pid=$LAST_PID
  box=$(wait_window 'Login' 60) || fail "uninstaller: no question"
  key_to "$box" Return
  wait_window '卸载程序' 60 >/dev/null || fail "uninstaller: no window"
  for _ in $(seq 1 240); do
    [ ! -e "$INSTALL/bin" ] && [ ! -e "$INSTALL/Launcher.exe" ] && ! ls "$DRIVE_C"/users/*/AppData/Roaming/Microsoft/Windows/'Start Menu'/Programs/Korvane >/dev/null 2>&1 && break
    sleep 0.25
  done
  [ ! -e "$INSTALL/bin" ] && [ ! -e "$INSTALL/Launcher.exe" ] || fail "uninstaller: listed files not removed"
  press_until_exit "$pid" '卸载程序' Escape 60 || fail "uninstaller: the window did not close"
  lost=$((before - $(find $OUTSIDE -type f | wc -l)))
  echo "files lost outside the install folder: $lost (of $before)"
  [ "$lost" = 0 ] || fail "the uninstaller removed $lost files outside C:\\Korvanis"
  [ -e "$INSTALL/jn" ] && fail "a listed junction was left"
  pass "uninstaller: hostile list and $junctions junctions, nothing outside C:\\Korvanis removed"
fi

if [ "$PACKAGE" = "$BUILD/package" ]; then
  # ---- a registration that runs but fails counts as done: the login page
  # follows, and the next start takes the login path without unpacking
  logins() { grep -c '"target": "/micro/",' "$SCRATCH/server.log" || true; }
  waits() { grep -c '"target": "/micro/waiting.php"' "$SCRATCH/server.log" || true; }
  reset_machine
  pages=$(logins) waiting=$(waits)
  KORVANE_REGSVR32_FAIL=1 start_login "$FOLDER"
  pid=$LAST_PID
  win=$(wait_window 'Korvane安装程序' 120) || fail "failing registration: no launcher window"
  for _ in $(seq 1 480); do [ "$(logins)" -gt "$pages" ] && break; sleep 0.25; done
  [ "$(logins)" -gt "$pages" ] || fail "failing registration: no login page after the installation"
  [ ! -e "$INSTALL/install.unfinished" ] || fail "a failed registration left the installation unfinished"
  wine reg query 'HKCU\SOFTWARE\MozillaPlugins\korvane.net/KVNWebPlayer' /v Path >/dev/null 2>&1 \
    && fail "registered although the plug-in refused"
  window_exists 'Login' && fail "a message for a registration that ran"
  click_close_button "$win"
  wait_exit "$pid" 30 || fail "failing registration: the close button did not end the launcher"
  # A byte added to the unpacked plug-in would go if the client were unpacked again.
  printf 'x' >> "$INSTALL/bin/npKVNWebPlayer.dll"
  size=$(stat -c %s "$INSTALL/bin/npKVNWebPlayer.dll")
  pages=$(logins) waiting=$(waits)
  start_login "$INSTALL"
  pid=$LAST_PID
  win=$(wait_window 'Korvane安装程序' 120) || fail "after a failed registration: no launcher window"
  for _ in $(seq 1 240); do [ "$(logins)" -gt "$pages" ] && break; sleep 0.25; done
  [ "$(logins)" -gt "$pages" ] || fail "after a failed registration: no login page"
  [ "$(waits)" = "$waiting" ] || fail "after a failed registration the next start installed again"
  [ "$(stat -c %s "$INSTALL/bin/npKVNWebPlayer.dll")" = "$size" ] || fail "the client was unpacked again"
  click_close_button "$win"
  wait_exit "$pid" 30 || fail "after a failed registration: the close button did not end the launcher"
  pass "a failed registration counts as done: the next start goes to the login page, nothing unpacked"
fi

# ---- client present: nothing copied; the login hand-off
reset_machine
CLIENT=$SCRATCH/client
make_launcher_folder "$CLIENT"
STANDIN=$BUILD/standins/bin/Launcher.exe
if [ -f "$STANDIN" ]; then cp "$STANDIN" "$CLIENT/Launcher.exe"; else printf 'client' > "$CLIENT/Launcher.exe"; fi
printf 'version:120' > "$CLIENT/kvnversion.ini"
printf '%s' "$KORVANE_SITE/micro/?user=abc&x=1" > "$CLIENT/login.ini"
start_login "$CLIENT"
pid=$LAST_PID
wait_exit "$pid" 120 || fail "client present: the launcher did not end after the login navigation"
[ "$(exit_code_of "$pid")" = 0 ] || fail "the hand-off ended the launcher with $(exit_code_of "$pid")"
[ ! -e "$INSTALL" ] || fail "client present: C:\\Korvanis was created"
[ -f "$CLIENT/kvnlogin.dat" ] || fail "kvnlogin.dat was not written in the client folder"
[ "$(cat "$CLIENT/kvnlogin.dat")" = 'abc&x=1' ] || fail "kvnlogin.dat holds '$(cat "$CLIENT/kvnlogin.dat")'"
grep -q '/download/LoginExeVersionInfo.ini' "$SCRATCH/server.log" || fail "the version file was not fetched"
pass "client present: nothing copied, kvnlogin.dat = abc&x=1, exit code 0"
if [ -f "$STANDIN" ]; then
  wait_file "$CLIENT/client-started.txt" 60 || fail "the game client was not started"
  grep -qx 'login=abc&x=1' "$CLIENT/client-started.txt" || fail "the game client read another login"
  pass "game client started in its folder with the login"
  if client=$(wait_window '已登录：abc&x=1' 30); then key_to "$client" alt+F4; fi
fi
