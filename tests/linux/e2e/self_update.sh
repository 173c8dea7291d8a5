#!/usr/bin/env bash
# End to end on Linux: the download server's record names a newer launcher,
# so the running one fetches it as TmpLogin.exe into the install folder,
# starts update.exe from there and ends with 0; update.exe puts the new
# launcher in place of Login.exe and starts it, and that one, now current,
# shows its window without fetching itself again.
# Usage: self_update.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.bash"
kvn_init "$1" "$2"

# A site whose download area offers launcher version 5: this build's
# launcher with a marker appended, to tell the two apart.
site_root=$state/site
cp -r "$src/standins/site" "$site_root"
printf '[VersionInfo]\r\nLoginExeVersionNumber=5\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$site_root/download/LoginExeVersionInfo.ini"
cp "$build/package/Login.exe" "$site_root/download/Login.exe"
printf 'KVN-NEW-LAUNCHER' >> "$site_root/download/Login.exe"
kvn_start_server --root "$site_root"

kvn_seed_install
[ -x "$inst/update.exe" ] || fail "the client has no update.exe"
printf '[VersionInfo]\r\nLoginExeVersionNumber=4\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$inst/LoginExeVersionInfo.ini"

pkg="$state/package"
kvn_package_copy "$pkg"
cd "$pkg"
./Login.exe & pid=$!; pids+=($pid)
wait_exit $pid 600 || fail "the old launcher did not end after handing over"
[ "$exit_code" = 0 ] || fail "the old launcher ended with $exit_code"
[ "$(requests_for /download/Login.exe)" = 1 ] || fail "the new launcher was not fetched"
echo "ok: launcher 4 vs 5: Login.exe fetched, the old launcher ended with 0"

new_window() { xdotool search --onlyvisible --name '^Korvane安装程序$'; }
wait_for 600 new_window || fail "the new launcher's window did not show"
cmp -s "$site_root/download/Login.exe" "$inst/Login.exe" || fail "Login.exe was not replaced by the new launcher"
[ -x "$inst/Login.exe" ] || fail "the new Login.exe is not executable"
[ ! -e "$inst/TmpLogin.exe" ] || fail "TmpLogin.exe was left behind"
[ "$(requests_for /download/LoginExeVersionInfo.ini)" = 2 ] || fail "the new launcher did not check its version"
[ "$(requests_for /download/Login.exe)" = 1 ] || fail "the new launcher fetched itself again"
echo "ok: update.exe replaced Login.exe and started it; the new launcher is current and shows its window"

win=$(new_window | head -1)
click_in "$win" 993 93
wait_for 100 bash -c '! xdotool search --onlyvisible --name "^Korvane安装程序\$"' ||
  fail "the new launcher's close button did not end it"
echo "ok: the new launcher closes with its close button"
