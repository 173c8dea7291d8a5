#!/usr/bin/env bash
# End to end on Linux: the download server's record names a newer launcher.
# First the served launcher has a valid length but a signature that does not
# match it: the running launcher refuses it ten times, says so, leaves
# Login.exe as it was and goes on to the login page. Then the launcher is
# served with its own signature: the running one fetches it as TmpLogin.exe
# into the install folder, starts update.exe from there and ends with 0;
# update.exe puts the new launcher in place of Login.exe and starts it, and
# that one, now current, shows its window without fetching itself again.
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
kvn_start_server --root "$site_root"

kvn_seed_install
[ -x "$inst/update.exe" ] || fail "the client has no update.exe"
printf '[VersionInfo]\r\nLoginExeVersionNumber=4\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$inst/LoginExeVersionInfo.ini"

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
dismiss_box $pid Login || fail "the message did not close"
wait_for 300 login_pages_at_least 1 || fail "no login page after the refused launcher"
kill -0 $pid 2>/dev/null || fail "the launcher ended after refusing the update"
kill $pid; wait $pid 2>/dev/null || true
echo "ok: a launcher with a wrong signature: refused ten times, nothing handed over, login page shown"

# The launcher's own signature: handed over.
mv "$state/launcher.sig" "$site_root/download/Login.exe.sig"
printf '[VersionInfo]\r\nLoginExeVersionNumber=4\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$inst/LoginExeVersionInfo.ini"
refused=$(requests_for /download/LoginExeVersionInfo.ini)
./Login.exe & pid=$!; pids+=($pid)
wait_exit $pid 600 || fail "the old launcher did not end after handing over"
[ "$exit_code" = 0 ] || fail "the old launcher ended with $exit_code"
[ "$(requests_for /download/Login.exe)" = 11 ] || fail "the new launcher was not fetched"
echo "ok: launcher 4 vs 5: Login.exe fetched, the old launcher ended with 0"

new_window() { xdotool search --onlyvisible --name '^Korvane安装程序$'; }
wait_for 600 new_window || fail "the new launcher's window did not show"
cmp -s "$site_root/download/Login.exe" "$inst/Login.exe" || fail "Login.exe was not replaced by the new launcher"
[ -x "$inst/Login.exe" ] || fail "the new Login.exe is not executable"
[ ! -e "$inst/TmpLogin.exe" ] || fail "TmpLogin.exe was left behind"
[ "$(requests_for /download/LoginExeVersionInfo.ini)" = $((refused + 2)) ] || fail "the new launcher did not check its version"
[ "$(requests_for /download/Login.exe)" = 11 ] || fail "the new launcher fetched itself again"
echo "ok: update.exe replaced Login.exe and started it; the new launcher is current and shows its window"

win=$(new_window | head -1)
click_in "$win" 993 93
wait_for 100 bash -c '! xdotool search --onlyvisible --name "^Korvane安装程序\$"' ||
  fail "the new launcher's close button did not end it"
echo "ok: the new launcher closes with its close button"
