#!/usr/bin/env bash
# End to end on Linux: with the client installed, the launcher shows the login
# page; a login typed into the page (and one the page makes by itself, from
# the address in login.ini) is handed to the client: kvnlogin.dat holds the
# login text byte for byte, readable by the user only, the client starts in
# its folder and the launcher ends with exit code 0.
# Usage: login_handoff.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
source "$(dirname "$0")/lib.bash"
kvn_init "$1" "$2"
kvn_start_server
kvn_seed_install

pkg="$state/package"
kvn_package_copy "$pkg"
cd "$pkg"

loaded_at_least() { [ "$(requests_for "/micro/loaded?page=login&t=[0-9]*")" -ge "$1" ]; }

# Checks the hand-off of login text $1 by launcher job $2.
check_handoff() {
  local login=$1
  wait_exit "$2" 300 || true
  [ "$exit_code" = 0 ] || fail "launcher exit code after the login '$login': $exit_code"
  [ -f "$inst/kvnlogin.dat" ] || fail "no kvnlogin.dat in the client folder"
  printf '%s' "$login" > "$state/expected"
  cmp -s "$state/expected" "$inst/kvnlogin.dat" \
    || fail "kvnlogin.dat holds '$(od -c "$inst/kvnlogin.dat" | head -3)', not '$login'"
  [ "$(stat -c %a "$inst/kvnlogin.dat")" = 600 ] \
    || fail "kvnlogin.dat mode $(stat -c %a "$inst/kvnlogin.dat"), not 600"
  wait_for 100 test -s "$inst/client-started.txt" || fail "the client did not start"
  printf 'login=%s\ncwd=%s\n' "$login" "$inst" > "$state/expected"
  cmp -s "$state/expected" "$inst/client-started.txt" \
    || fail "client record: $(cat "$inst/client-started.txt")"
  for p in $(kvn_strays); do kill "$p" 2>/dev/null || true; done
  rm -f "$inst/client-started.txt"
}

# 1. Typed into the page's field and sent with its button. "&" and "%"
#    escapes are part of the login text as they stand in the address.
login='ab&c=1%41'
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window"
win=$(window_of $pid "Korvane安装程序" | head -1)
wait_for 300 loaded_at_least 1 || fail "login page not loaded"
[ "$(requests_for /micro/waiting.php)" -eq 0 ] || fail "waiting page shown although the client is installed"
xdotool windowfocus --sync "$win" 2>/dev/null || true
# The field sits in the page's box; the view starts at (38, 120) in the window.
click_in "$win" 503 305
xdotool type --delay 20 "$login"
click_in "$win" 503 357
check_handoff "$login" $pid

# 2. The address in login.ini, an older and wider kvnlogin.dat in place:
#    the page logs in by itself; the file is replaced, not appended to.
login='p%7Eq'
printf '%s' "$site/micro/#auto=$login" > login.ini
printf 'a much longer login from an earlier run' > "$inst/kvnlogin.dat"
chmod 644 "$inst/kvnlogin.dat"
./Login.exe & pid=$!; pids+=($pid)
check_handoff "$login" $pid
echo "PASS"
