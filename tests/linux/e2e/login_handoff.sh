#!/usr/bin/env bash
# End to end on Linux: the whole road of a first start, from nothing through
# the installation to a login the page makes by itself; then, with the client
# installed, the login page at once. A login typed into the page, or made by
# the page from the address in login.ini, is handed to the client:
# kvnlogin.dat holds the login text byte for byte, readable by the user only,
# the client starts in its folder and the launcher ends with exit code 0. A login that cannot be
# handed over (no file can be written, a text too long for the hand-off)
# gives the warning box and leaves the launcher open; "?User=" in another
# letter case is an ordinary address. Only the login page's own top frame
# ends a login: a frame of another site in it cannot.
# Usage: login_handoff.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
source "$(dirname "$0")/lib.bash"
kvn_init "$1" "$2"
kvn_start_server

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

# 0. First start: waiting page, installation, login page, login. The login
#    view was given the install folder although no client was found at start.
printf '%s' "$site/micro/#auto=first" > login.ini
./Login.exe & pid=$!; pids+=($pid)
check_handoff first $pid
[ "$(requests_for /micro/waiting.php)" -eq 1 ] || fail "no waiting page on the first start"
rm login.ini

# 1. Typed into the page's field and sent with its button. "&" and "%"
#    escapes are part of the login text as they stand in the address.
login='ab&c=1%41'
loads=$(requests_for "/micro/loaded?page=login&t=[0-9]*")
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window"
win=$(window_of $pid "Korvane安装程序" | head -1)
wait_for 300 loaded_at_least $((loads + 1)) || fail "login page not loaded"
[ "$(requests_for /micro/waiting.php)" -eq 1 ] || fail "waiting page shown although the client is installed"
xdotool windowfocus --sync "$win" 2>/dev/null || true
# The field sits in the page's box; the view starts at (38, 120) in the window.
click_in "$win" 503 305
xdotool type --delay 20 "$login"
click_in "$win" 503 357
check_handoff "$login" $pid

# 1b. A frame of another site in the login page (an advert) tries, with no
#     click, to end the login: it navigates itself to the login page's
#     "?user=" address, then to its own site's, then the page itself to the
#     login page's. Nothing is handed off and the launcher stays; the same
#     kind of address made by the page's own form is handed off.
kvn_start_second_server
printf '%s' "$site/micro/framed.html#frame=$site2" > login.ini
printf 'previous' > "$inst/kvnlogin.dat"
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window for the framed page"
win=$(window_of $pid "Korvane安装程序" | head -1)
frame_done() { [ "$(requests2_for "/ad/tried?n=done")" -ge 1 ]; }
wait_for 300 frame_done || fail "the frame did not make its tries"
[ "$(requests_for "/micro/?user=EVILFRAME")" -ge 1 ] || fail "the frame's navigation to the login site was not tried"
[ "$(requests_for "/micro/?user=EVILTOP")" -ge 1 ] || fail "the frame's navigation of the page was not tried"
kill -0 $pid 2>/dev/null || fail "the frame's tries ended the launcher (kvnlogin.dat: $(cat "$inst/kvnlogin.dat"))"
[ "$(cat "$inst/kvnlogin.dat")" = previous ] || fail "a frame wrote kvnlogin.dat: $(cat "$inst/kvnlogin.dat")"
[ ! -e "$inst/client-started.txt" ] || fail "a frame started the client"
[ "$(requests2_for "/micro/?user=EVILOWN")" = 0 ] || fail "the frame's own ?user= address was loaded"
xdotool windowfocus --sync "$win" 2>/dev/null || true
click_in "$win" 503 305
xdotool type --delay 20 "good"
click_in "$win" 503 357
check_handoff good $pid
rm login.ini

# 2. The address in login.ini, an older and wider kvnlogin.dat in place:
#    the page logs in by itself; the file is replaced, not appended to.
login='p%7Eq'
printf '%s' "$site/micro/#auto=$login" > login.ini
printf 'a much longer login from an earlier run' > "$inst/kvnlogin.dat"
chmod 644 "$inst/kvnlogin.dat"
./Login.exe & pid=$!; pids+=($pid)
check_handoff "$login" $pid

# 3. An empty login text gives an empty file, and the client still starts.
printf '%s' "$site/micro/#auto=" > login.ini
./Login.exe & pid=$!; pids+=($pid)
check_handoff "" $pid

# Starts the launcher with the address $1 in login.ini and waits for its
# window; the page must not end the launcher.
start_open() {
  printf '%s' "$1" > login.ini
  ./Login.exe & pid=$!; pids+=($pid)
  wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window for $1"
  win=$(window_of $pid "Korvane安装程序" | head -1)
}
# The close button (control 1002) ends a launcher that stayed open, with 0.
close_launcher() {
  kill -0 $pid 2>/dev/null || fail "$1: the launcher ended"
  click_in "$win" 993 93
  wait_exit $pid 100 || fail "$1: the close button did not end the launcher"
  [ "$exit_code" = 0 ] || fail "$1: exit code $exit_code after the close button"
}
# A refused hand-off: the warning box (captioned with the program's name),
# no client; once the box is closed the launcher is still open.
expect_refusal() {
  wait_for 300 window_of $pid Login || fail "$1: no warning box"
  [ ! -e "$inst/client-started.txt" ] || fail "$1: the client was started"
  dismiss_box $pid Login || fail "$1: the box did not close"
  close_launcher "$1"
}

# 4. "?User=" is not the login marker: the page loads, nothing is handed over.
printf 'previous' > "$inst/kvnlogin.dat"
start_open "$site/micro/?User=x"
wait_for 300 grep -qF '"target": "/micro/?User=x"' "$state/requests.log" || fail "the ?User= address was not loaded"
[ "$(cat "$inst/kvnlogin.dat")" = previous ] || fail "kvnlogin.dat written for ?User="
close_launcher "?User="

# 5. kvnlogin.dat cannot be written (a folder of that name stands there).
mv "$inst/kvnlogin.dat" "$state/kvnlogin.saved"
mkdir "$inst/kvnlogin.dat"
start_open "$site/micro/#auto=blocked"
expect_refusal "unwritable kvnlogin.dat"
rmdir "$inst/kvnlogin.dat"
mv "$state/kvnlogin.saved" "$inst/kvnlogin.dat"

# 6. A login address longer than the hand-off buffer is refused whole, not cut.
start_open "$site/micro/#auto=$(printf 'x%.0s' $(seq 300))"
expect_refusal "overlong login"
[ "$(cat "$inst/kvnlogin.dat")" = previous ] || fail "kvnlogin.dat changed by an overlong login"
echo "PASS"
