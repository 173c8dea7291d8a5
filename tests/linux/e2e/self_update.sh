#!/usr/bin/env bash
# End to end on Linux: the download server's record names a newer launcher.
# First the served launcher has a valid length but a signature that does not
# match it: the running launcher refuses it ten times, says so, leaves
# Login.exe and the stored record as they were and goes on to the login
# page. Then what a hostile or broken server may send is refused with the
# stored files left alone: a signed record that raises the launcher without
# naming its digest (with a signed foreign program), a rolled-back record, a
# 100 MB record and a 100 MB signature with honest lengths, a record that
# trickles. A self-update killed at each point is followed by a normal start
# that leaves nothing behind. Last, the launcher is served with its own
# signature: the running one (whose stored record still says 4, since
# nothing was handed over) fetches it as TmpLogin.exe into the install
# folder, starts update.exe from there and ends with 0; update.exe puts the
# new launcher in place of Login.exe and starts it, and that one, now
# current, shows its window without fetching itself again.
# Usage: self_update.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.bash"
kvn_init "$1" "$2"

# A site whose download area offers launcher version 5: this build's
# launcher with a marker appended, to tell the two apart. The files are
# signed with the demo key this build trusts, the launcher for now with the
# signature of another file.
site_root=$state/site
cp -r "$build/standins/site" "$site_root"
cp "$build/package/Login.exe" "$site_root/download/Login.exe"
printf 'KVN-NEW-LAUNCHER' >> "$site_root/download/Login.exe"
# The signed record names the launcher it announces.
printf '[VersionInfo]\r\nLoginExeVersionNumber=5\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\nLoginExeSha256=%s\r\nLoginExeSize=%s\r\n' \
  "$(sha256sum < "$site_root/download/Login.exe" | cut -d' ' -f1)" "$(stat -c %s "$site_root/download/Login.exe")" \
  > "$site_root/download/LoginExeVersionInfo.ini"
kvn_sign_files "$site_root/download/LoginExeVersionInfo.ini" "$site_root/download/Login.exe"
mv "$site_root/download/Login.exe.sig" "$state/launcher.sig"
cp "$site_root/download/LauncherDlg.bmp.sig" "$site_root/download/Login.exe.sig"
printf '{}' > "$state/rules.json"
kvn_start_server --root "$site_root" --rules "$state/rules.json" --sent-log "$state/sent.log"

kvn_seed_install
[ -x "$inst/update.exe" ] || fail "the client has no update.exe"
printf '[VersionInfo]\r\nLoginExeVersionNumber=4\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$inst/LoginExeVersionInfo.ini"
cp "$inst/LoginExeVersionInfo.ini" "$state/stored-record"
cp "$inst/LauncherDlg.bmp" "$state/stored-bitmap"

pkg="$state/package"
kvn_package_copy "$pkg"
cp "$inst/Login.exe" "$state/old-launcher"
cd "$pkg"

# The wrong signature: ten refused attempts, the message, then the login page.
./Login.exe & pid=$!; pids+=($pid)
wait_for 600 window_of $pid Login || fail "no message after the refused launcher"
[ "$(requests_for /download/Login.exe)" = 10 ] || fail "the refused launcher was not tried ten times"
[ "$(requests_for /download/Login.exe.sig)" = 10 ] || fail "the launcher's signature was not fetched each time"
[ ! -e "$inst/TmpLogin.exe" ] || fail "a launcher with a wrong signature was handed over as TmpLogin.exe"
ls "$inst" | grep -q -E '\.(new|part|sig)$' && fail "a refused download was left in the install folder"
cmp -s "$state/old-launcher" "$inst/Login.exe" || fail "the installed launcher changed"
cmp -s "$state/stored-record" "$inst/LoginExeVersionInfo.ini" ||
  fail "the stored record took the number of a launcher that was never handed over"
dismiss_box $pid Login || fail "the message did not close"
wait_for 300 login_pages_at_least 1 || fail "no login page after the refused launcher"
kill -0 $pid 2>/dev/null || fail "the launcher ended after refusing the update"
kill $pid; wait $pid 2>/dev/null || true
echo "ok: a launcher with a wrong signature: refused ten times, nothing handed over, login page shown"

# ---- what a hostile or broken server may send: refused, stored files kept
mv "$state/launcher.sig" "$site_root/download/Login.exe.sig"
cp "$site_root/download/LoginExeVersionInfo.ini" "$state/good-record"
cp "$site_root/download/LoginExeVersionInfo.ini.sig" "$state/good-record.sig"
rules() { printf '%s' "$1" > "$state/rules.json"; }
serve_record() {  # LoginExeVersionNumber, extra lines: a record signed with the build's key
  printf '[VersionInfo]\r\nLoginExeVersionNumber=%s\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n%s' "$1" "${2:-}" \
    > "$site_root/download/LoginExeVersionInfo.ini"
  kvn_sign_files "$site_root/download/LoginExeVersionInfo.ini"
}
serve_good_record() {
  cp "$state/good-record" "$site_root/download/LoginExeVersionInfo.ini"
  cp "$state/good-record.sig" "$site_root/download/LoginExeVersionInfo.ini.sig"
}
stored_files_kept() {
  cmp -s "$state/stored-record" "$inst/LoginExeVersionInfo.ini" || fail "$1: the stored record changed"
  cmp -s "$state/stored-bitmap" "$inst/LauncherDlg.bmp" || fail "$1: the background changed"
  cmp -s "$state/old-launcher" "$inst/Login.exe" || fail "$1: the installed launcher changed"
  if ls "$inst" | grep -q -E '\.(new|part|sig)$|^TmpLogin\.exe$'; then fail "$1: left behind: $(ls "$inst" | tr '\n' ' ')"; fi
}
sent_to() { python3 -c 'import json,sys
print(sum(json.loads(l)["body_bytes"] for l in open(sys.argv[1]) if json.loads(l)["answered"] == sys.argv[2]))' "$state/sent.log" "$1" 2>/dev/null || echo 0; }
# One start that the server's answers hold to this launcher: a message box,
# then the login page; the stored files as they were. Sets `held`: seconds
# from the start to the message.
refused_start() {
  local what=$1 pages
  pages=$(requests_for /micro/)
  t0=$(date +%s.%N)
  ./Login.exe & pid=$!; pids+=($pid)
  wait_for 1200 window_of $pid Login || fail "$what: no message"
  t1=$(date +%s.%N)
  [ ! -e "$inst/TmpLogin.exe" ] || fail "$what: a launcher was staged"
  dismiss_box $pid Login || fail "$what: the message did not close"
  wait_for 300 login_pages_at_least $((pages + 1)) || fail "$what: no login page"
  kill $pid; wait $pid 2>/dev/null || true
  stored_files_kept "$what"
  held=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a }')
}

# A signed record that raises the launcher without naming its digest, and a
# signed foreign program as Login.exe: nothing is fetched.
serve_record 5
cp "$build/standins/bin/update.exe" "$site_root/download/Login.exe.foreign"
mv "$site_root/download/Login.exe" "$state/new-launcher"
mv "$site_root/download/Login.exe.sig" "$state/new-launcher.sig"
cp "$site_root/download/Login.exe.foreign" "$site_root/download/Login.exe"
kvn_sign_files "$site_root/download/Login.exe"
before=$(requests_for /download/Login.exe)
refused_start "a record without a digest"
[ "$(requests_for /download/Login.exe)" = "$before" ] || fail "a launcher the record does not name was fetched"
mv "$state/new-launcher" "$site_root/download/Login.exe"
mv "$state/new-launcher.sig" "$site_root/download/Login.exe.sig"
echo "ok: a signed record raising the launcher without its digest, with a signed foreign program: nothing fetched, nothing changed"

# A rolled-back record (launcher 3 against the stored 4), signed.
serve_record 3
before=$(requests_for /download/LoginExeVersionInfo.ini)
refused_start "a rolled-back record"
[ "$(requests_for /download/LoginExeVersionInfo.ini)" = $((before + 10)) ] || fail "the rolled-back record was not tried ten times"
echo "ok: a rolled-back record: refused ten times as a bad signature is, the stored record kept"

# A 100 MB record, then a 100 MB signature, both with honest lengths: each
# attempt ends at the length, before the body.
serve_good_record
rules '{"/download/LoginExeVersionInfo.ini": {"fill": 104857600}}'
: > "$state/sent.log"
refused_start "a 100 MB record"
echo "ok: a 100 MB record: refused ten times; the server got $(sent_to /download/LoginExeVersionInfo.ini) body bytes out in all; message after ${held} s"
rules '{"/download/LoginExeVersionInfo.ini.sig": {"body": "", "fill": 104857600}}'
: > "$state/sent.log"
refused_start "a 100 MB signature"
echo "ok: a 100 MB signature: refused ten times; the server got $(sent_to /download/LoginExeVersionInfo.ini.sig) body bytes out in all; message after ${held} s"

# A record that trickles, one byte every 2 s: the attempt fails as a
# stalled one does, and the next attempt, answered normally, goes on.
rules '{"/download/LoginExeVersionInfo.ini": {"drip": 1, "drip_ms": 2000}, "/download/Login.exe": {"status": 404}}'
before=$(requests_for /download/LoginExeVersionInfo.ini)
pages=$(requests_for /micro/)
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 bash -c "[ \$(grep -c '\"target\": \"/download/LoginExeVersionInfo.ini\"' '$state/requests.log') -gt $before ]" ||
  fail "the record was not asked for"
t0=$(date +%s.%N)
rules '{"/download/Login.exe": {"status": 404}}'  # the attempts after the first are answered
wait_for 600 bash -c "[ \$(grep -c '\"target\": \"/download/LoginExeVersionInfo.ini\"' '$state/requests.log') -gt $((before + 1)) ]" ||
  fail "a trickling record held the start for a minute"
t1=$(date +%s.%N)
wait_for 1200 window_of $pid Login || fail "no message after the trickling record"
dismiss_box $pid Login || fail "the message did not close"
wait_for 300 login_pages_at_least $((pages + 1)) || fail "no login page after the trickling record"
kill $pid; wait $pid 2>/dev/null || true
stored_files_kept "a trickling record"
echo "ok: a record trickling one byte every 2 s: that attempt ended after $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a }') s, the next one went on"

# ---- a self-update killed at each point, then a normal start (the
# launcher's download refused, so that it ends at the login page)
kill_when() {  # description, file that marks the point
  ./Login.exe & pid=$!; pids+=($pid)
  wait_for 600 test -e "$2" || fail "$1: the point was not reached"
  kill -9 $pid; wait $pid 2>/dev/null || true
  rules '{"/download/Login.exe": {"status": 404}}'
  refused_start "the start after a kill $1"
  echo "ok: killed $1; the next start finished normally and left nothing behind"
}
rules '{"/download/LoginExeVersionInfo.ini": {"drip": 64, "drip_ms": 1000}}'
kill_when "in the record's download" "$inst/LoginExeVersionInfo.ini.new.part"
rules '{"/download/Login.exe": {"drip": 65536, "drip_ms": 500}}'
kill_when "in the launcher's download" "$inst/TmpLogin.exe.new.part"
rules '{"/download/Login.exe.sig": {"hang": true}}'
kill_when "with the launcher downloaded, before its check" "$inst/TmpLogin.exe.new"

# Staged and handed over, but update.exe is killed before it moves
# TmpLogin.exe: the next start removes it and carries on, the one after
# that hands over again (below).
rules '{}'
cp "$inst/update.exe" "$state/update.exe"
printf '#!/bin/sh\necho $$ > "%s/update.pid"\nexec sleep 120\n' "$state" > "$inst/update.exe"
chmod +x "$inst/update.exe"
./Login.exe & pid=$!; pids+=($pid)
wait_exit $pid 600 || fail "the launcher did not end after handing over"
wait_for 100 test -s "$state/update.pid" || fail "update.exe was not started"
kill "$(cat "$state/update.pid")"
[ -e "$inst/TmpLogin.exe" ] || fail "no TmpLogin.exe staged"
grep -q '^LoginExeVersionNumber=5' "$inst/LoginExeVersionInfo.ini" || fail "the record did not take the handed-over number"
cp "$state/update.exe" "$inst/update.exe"
pages=$(requests_for /micro/)
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 login_pages_at_least $((pages + 1)) || fail "no login page after a hand-over that did not finish"
[ ! -e "$inst/TmpLogin.exe" ] || fail "the leftover TmpLogin.exe stayed"
grep -q '^LoginExeVersionNumber=4' "$inst/LoginExeVersionInfo.ini" || fail "the launcher's number was not set back"
window_of $pid Login >/dev/null 2>&1 && fail "a message after a hand-over that did not finish"
kill $pid; wait $pid 2>/dev/null || true
cmp -s "$state/old-launcher" "$inst/Login.exe" || fail "the installed launcher changed"
echo "ok: update.exe killed before it moved TmpLogin.exe: the next start removed it and showed the login page"

# The launcher's own signature: handed over.
refused=$(requests_for /download/LoginExeVersionInfo.ini)
fetched=$(requests_for /download/Login.exe)
./Login.exe & pid=$!; pids+=($pid)
wait_exit $pid 600 || fail "the old launcher did not end after handing over"
[ "$exit_code" = 0 ] || fail "the old launcher ended with $exit_code"
[ "$(requests_for /download/Login.exe)" = $((fetched + 1)) ] || fail "the new launcher was not fetched"
echo "ok: launcher 4 vs 5: Login.exe fetched, the old launcher ended with 0"

new_window() { xdotool search --onlyvisible --name '^Korvane安装程序$'; }
wait_for 600 new_window || fail "the new launcher's window did not show"
cmp -s "$site_root/download/Login.exe" "$inst/Login.exe" || fail "Login.exe was not replaced by the new launcher"
[ -x "$inst/Login.exe" ] || fail "the new Login.exe is not executable"
[ ! -e "$inst/TmpLogin.exe" ] || fail "TmpLogin.exe was left behind"
[ "$(requests_for /download/LoginExeVersionInfo.ini)" = $((refused + 2)) ] || fail "the new launcher did not check its version"
[ "$(requests_for /download/Login.exe)" = $((fetched + 1)) ] || fail "the new launcher fetched itself again"
echo "ok: update.exe replaced Login.exe and started it; the new launcher is current and shows its window"

win=$(new_window | head -1)
click_in "$win" 993 93
wait_for 100 bash -c '! xdotool search --onlyvisible --name "^Korvane安装程序\$"' ||
  fail "the new launcher's close button did not end it"
echo "ok: the new launcher closes with its close button"
