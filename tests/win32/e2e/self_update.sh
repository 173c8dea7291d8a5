#!/usr/bin/env bash
# Login.exe under Wine updates itself: the download server's record names a
# newer launcher, Authenticode-signed as a release is. Served first with a
# valid length but a signature that does not match it, the launcher is
# refused ten times and not handed over; the running launcher says so,
# stays as it was (its stored record too) and goes on to the login page. A
# signed record that rolls a number back, and one that raises the launcher
# without naming its digest, change nothing.
# Served with its own signature, the running one fetches it as TmpLogin.exe,
# starts update.exe hidden from its folder and ends with 0; update.exe puts
# the new launcher in place and starts it, and that one, now current, shows
# its window.
source "$(dirname "$0")/e2e_lib.bash" "$1" "$2" "$0"

UPDATE_EXE=$BUILD/standins/client/update.exe
[ -f "$UPDATE_EXE" ] || fail "the stand-in update.exe is not built"

# A site whose download area offers launcher version 5: this build's
# Login.exe signed as a release is, Authenticode first (a throw-away
# code-signing certificate; its signature also tells the two apart), then
# the Ed25519 signature with the demo key this build trusts. The launcher
# for now carries the Ed25519 signature of another file.
SITE=$SCRATCH/site
cp -r "$BUILD/standins/site" "$SITE"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korvane test signer" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
  -keyout "$SCRATCH/code.key" -out "$SCRATCH/code.pem" >/dev/null 2>&1 || fail "openssl made no certificate"
rm -f "$SITE/download/Login.exe"
osslsigncode sign -certs "$SCRATCH/code.pem" -key "$SCRATCH/code.key" -h sha256 -n Korvane \
  -in "$LOGIN_EXE" -out "$SITE/download/Login.exe" >"$SCRATCH/authenticode.out" 2>&1 ||
  { cat "$SCRATCH/authenticode.out"; fail "osslsigncode did not sign Login.exe"; }
# The certificate is its own root: trusted for this check, the chain holds
# and the digest in the signature is the file's.
osslsigncode verify -CAfile "$SCRATCH/code.pem" -in "$SITE/download/Login.exe" >"$SCRATCH/verify.out" 2>&1 ||
  { cat "$SCRATCH/verify.out"; fail "osslsigncode verify refused the signed Login.exe"; }
current=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$SCRATCH/verify.out")
calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$SCRATCH/verify.out")
[ -n "$current" ] && [ "$current" = "$calculated" ] || fail "the Authenticode digest does not match the file"
osslsigncode verify -CAfile "$SCRATCH/code.pem" -in "$LOGIN_EXE" >/dev/null 2>&1 &&
  fail "osslsigncode verify took the unsigned Login.exe"
osslsigncode remove-signature -in "$SITE/download/Login.exe" -out "$SCRATCH/stripped.exe" >/dev/null 2>&1
cmp -s "$SCRATCH/stripped.exe" "$LOGIN_EXE" || fail "without its Authenticode signature the file is not the build's"
pass "Login.exe Authenticode-signed and verified (digest $current); without the signature it is the build's file"
# The signed record names the launcher it announces.
printf '[VersionInfo]\r\nLoginExeVersionNumber=5\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\nLoginExeSha256=%s\r\nLoginExeSize=%s\r\n' \
  "$(sha256sum < "$SITE/download/Login.exe" | cut -d' ' -f1)" "$(stat -c %s "$SITE/download/Login.exe")" \
  > "$SITE/download/LoginExeVersionInfo.ini"
sign_files "$SITE/download/LoginExeVersionInfo.ini" "$SITE/download/Login.exe"
mv "$SITE/download/Login.exe.sig" "$SCRATCH/launcher.sig"
cp "$SITE/download/LauncherDlg.bmp.sig" "$SITE/download/Login.exe.sig"

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
cp "$CLIENT/LoginExeVersionInfo.ini" "$SCRATCH/stored-record"
cp "$CLIENT/LauncherDlg.bmp" "$SCRATCH/stored-bitmap"

fetches() { grep -c "\"target\": \"$1\"" "$SCRATCH/server.log" || true; }

# The wrong signature: ten refused attempts, the message, the login page.
cp "$CLIENT/Login.exe" "$SCRATCH/old-launcher"
start_login "$CLIENT"
pid=$LAST_PID
box=$(wait_window Login 120) || fail "no message after the refused launcher"
[ "$(fetches /download/Login.exe)" = 10 ] || fail "the refused launcher was not tried ten times"
[ "$(fetches /download/Login.exe.sig)" = 10 ] || fail "the launcher's signature was not fetched each time"
[ ! -e "$CLIENT/TmpLogin.exe" ] || fail "a launcher with a wrong signature was handed over as TmpLogin.exe"
ls "$CLIENT" | grep -q -E '\.(new|part|sig)$' && fail "a refused download was left in the launcher's folder"
cmp -s "$SCRATCH/old-launcher" "$CLIENT/Login.exe" || fail "the installed launcher changed"
cmp -s "$SCRATCH/stored-record" "$CLIENT/LoginExeVersionInfo.ini" ||
  fail "the stored record took the number of a launcher that was never handed over"
for _ in $(seq 1 40); do
  window_exists Login || break
  key_to "$box" Return
  sleep 0.5
done
window_exists Login && fail "the message did not close"
for _ in $(seq 1 240); do
  grep -q '"target": "/micro/",' "$SCRATCH/server.log" && break
  sleep 0.25
done
grep -q '"target": "/micro/",' "$SCRATCH/server.log" || fail "no login page after the refused launcher"
kill -0 "$pid" 2>/dev/null || fail "the launcher ended after refusing the update"
win=$(wait_window 'Korvane安装程序' 60) || fail "no launcher window after the refused launcher"
click_close_button "$win"
wait_exit "$pid" 60 || fail "the launcher did not close after the refused update"
pass "a launcher with a wrong signature: refused ten times, nothing handed over, login page shown"

# Signed records that the launcher must refuse: the stored files stay byte
# for byte, nothing is staged, the login page follows the message.
mv "$SCRATCH/launcher.sig" "$SITE/download/Login.exe.sig"
cp "$SITE/download/LoginExeVersionInfo.ini" "$SCRATCH/good-record"
refused_start() {
  local what=$1 pages
  pages=$(fetches /micro/)
  start_login "$CLIENT"
  pid=$LAST_PID
  box=$(wait_window Login 120) || fail "$what: no message"
  for _ in $(seq 1 40); do
    window_exists Login || break
    key_to "$box" Return
    sleep 0.5
  done
  window_exists Login && fail "$what: the message did not close"
  for _ in $(seq 1 240); do [ "$(fetches /micro/)" -gt "$pages" ] && break; sleep 0.25; done
  [ "$(fetches /micro/)" -gt "$pages" ] || fail "$what: no login page"
  win=$(wait_window 'Korvane安装程序' 60) || fail "$what: no launcher window"
  click_close_button "$win"
  wait_exit "$pid" 60 || fail "$what: the launcher did not close"
  cmp -s "$SCRATCH/stored-record" "$CLIENT/LoginExeVersionInfo.ini" || fail "$what: the stored record changed"
  cmp -s "$SCRATCH/stored-bitmap" "$CLIENT/LauncherDlg.bmp" || fail "$what: the background changed"
  cmp -s "$SCRATCH/old-launcher" "$CLIENT/Login.exe" || fail "$what: the installed launcher changed"
  ls "$CLIENT" | grep -q -E '\.(new|part|sig)$|^TmpLogin\.exe$' && fail "$what: left behind: $(ls "$CLIENT" | tr '\n' ' ')"
  return 0
}
printf '[VersionInfo]\r\nLoginExeVersionNumber=3\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$SITE/download/LoginExeVersionInfo.ini"
sign_files "$SITE/download/LoginExeVersionInfo.ini"
records=$(fetches /download/LoginExeVersionInfo.ini)
refused_start "a rolled-back record"
[ "$(fetches /download/LoginExeVersionInfo.ini)" = $((records + 10)) ] || fail "the rolled-back record was not tried ten times"
pass "a signed record with a lower number: refused ten times, nothing changed"

printf '[VersionInfo]\r\nLoginExeVersionNumber=5\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$SITE/download/LoginExeVersionInfo.ini"
sign_files "$SITE/download/LoginExeVersionInfo.ini"
launchers=$(fetches /download/Login.exe)
refused_start "a record that names no digest"
[ "$(fetches /download/Login.exe)" = "$launchers" ] || fail "a launcher the record does not name was fetched"
pass "a signed record raising the launcher without naming its digest: nothing fetched, nothing changed"

# The launcher's own signature: handed over (the stored record still says 4).
cp "$SCRATCH/good-record" "$SITE/download/LoginExeVersionInfo.ini"
sign_files "$SITE/download/LoginExeVersionInfo.ini"
launchers=$(fetches /download/Login.exe)
start_login "$CLIENT"
pid=$LAST_PID
wait_exit "$pid" 120 || fail "the old launcher did not end after handing over"
[ "$(exit_code_of "$pid")" = 0 ] || fail "the old launcher ended with $(exit_code_of "$pid")"
[ "$(fetches /download/Login.exe)" = $((launchers + 1)) ] || fail "the new launcher was not fetched"
pass "launcher 4 vs 5: Login.exe fetched, old launcher ended with 0"

# update.exe swaps the files and starts the new launcher, which shows its
# window (its record now matches the server's, so it does not update again).
win=$(wait_window 'Korvane安装程序' 120) || fail "the new launcher's window did not show"
cmp -s "$SITE/download/Login.exe" "$CLIENT/Login.exe" || fail "Login.exe was not replaced by the new launcher"
[ ! -e "$CLIENT/TmpLogin.exe" ] || fail "TmpLogin.exe was left behind"
[ "$(fetches /download/Login.exe)" = $((launchers + 1)) ] || fail "the new launcher fetched itself again"
pass "update.exe replaced Login.exe and started it; the new launcher is current and shows its window"
click_close_button "$win"
for _ in $(seq 1 120); do window_exists 'Korvane安装程序' || break; sleep 0.25; done
window_exists 'Korvane安装程序' && fail "the new launcher's close button did not end it"
pass "the new launcher closes with its close button"
