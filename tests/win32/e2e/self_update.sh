#!/usr/bin/env bash
# Login.exe under Wine updates itself: the download server's record names a
# newer launcher, so the running one fetches it as TmpLogin.exe, starts
# update.exe hidden from its folder and ends with 0; update.exe puts the new
# launcher in place and starts it, and that one, now current, shows its
# window.
source "$(dirname "$0")/e2e_lib.bash" "$1" "$2" "$0"

UPDATE_EXE=$BUILD/standins/client/update.exe
[ -f "$UPDATE_EXE" ] || fail "the stand-in update.exe is not built"

# A site whose download area offers launcher version 5 (a copy of this
# build's Login.exe with a marker appended, to tell the two apart).
SITE=$SCRATCH/site
cp -r "$SRC/standins/site" "$SITE"
printf '[VersionInfo]\r\nLoginExeVersionNumber=5\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$SITE/download/LoginExeVersionInfo.ini"
cp "$LOGIN_EXE" "$SITE/download/Login.exe"
printf 'KVN-NEW-LAUNCHER' >> "$SITE/download/Login.exe"

python3 "$SRC/standins/server/kvn_server.py" --root "$SITE" --port-file "$SCRATCH/server.port" \
  --log "$SCRATCH/server.log" --port 0 >"$SCRATCH/server.out" 2>&1 &
SERVER_PID=$!
for _ in $(seq 1 100); do [ -s "$SCRATCH/server.port" ] && break; sleep 0.1; done
[ -s "$SCRATCH/server.port" ] || fail "the local server did not start"
export KORVANE_SITE=http://127.0.0.1:$(cat "$SCRATCH/server.port") KORVANE_DOWNLOAD=http://127.0.0.1:$(cat "$SCRATCH/server.port")

reset_machine
CLIENT=$SCRATCH/client
make_launcher_folder "$CLIENT"
printf 'client' > "$CLIENT/Launcher.exe"
printf 'version:120' > "$CLIENT/kvnversion.ini"
cp "$UPDATE_EXE" "$CLIENT/update.exe"
printf '[VersionInfo]\r\nLoginExeVersionNumber=4\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$CLIENT/LoginExeVersionInfo.ini"

start_login "$CLIENT"
pid=$LAST_PID
wait_exit "$pid" 120 || fail "the old launcher did not end after handing over"
[ "$(exit_code_of "$pid")" = 0 ] || fail "the old launcher ended with $(exit_code_of "$pid")"
grep -q '"target": "/download/Login.exe"' "$SCRATCH/server.log" || fail "the new launcher was not fetched"
pass "launcher 4 vs 5: Login.exe fetched, old launcher ended with 0"

# update.exe swaps the files and starts the new launcher, which shows its
# window (its record now matches the server's, so it does not update again).
win=$(wait_window 'Korvane安装程序' 120) || fail "the new launcher's window did not show"
cmp -s "$SITE/download/Login.exe" "$CLIENT/Login.exe" || fail "Login.exe was not replaced by the new launcher"
[ ! -e "$CLIENT/TmpLogin.exe" ] || fail "TmpLogin.exe was left behind"
[ "$(grep -c '"target": "/download/Login.exe"' "$SCRATCH/server.log")" = 1 ] ||
  fail "the new launcher fetched itself again"
pass "update.exe replaced Login.exe and started it; the new launcher is current and shows its window"
click_close_button "$win"
for _ in $(seq 1 120); do window_exists 'Korvane安装程序' || break; sleep 0.25; done
window_exists 'Korvane安装程序' && fail "the new launcher's close button did not end it"
pass "the new launcher closes with its close button"
