#!/usr/bin/env bash
# End to end on Linux: Enter, Escape, Alt+F4 and the window manager's close
# request leave the launcher window open; its minimise button asks for the
# window to be iconified, its close button ends the launcher with code 0.
# Enter and Space click the picture button that has the focus.
# Enter still reaches the page: in the login field it logs in. The page's
# title never becomes the window's. A served page taller than the view shows
# no scroll bar, and its requests for a new window (a link with a target, a
# script's window.open) each go to the default browser once and open no
# window of the launcher's own. A page of the test's own whose links and
# click handler try other schemes ("file:", a share, "ms-msdt:",
# "search-ms:", "smb:", "ftp:", "data:", a made-up one) starts nothing;
# one click that asks for 200 windows starts the browser once. Links a
# page's script clicks from a timer open nothing; the same link clicked with
# the mouse opens the browser once, and the page stays in the view.
# Usage: window_keys.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.bash"
kvn_init "$1" "$2"
# The test's own copy of the site, with a page of hostile links added below.
cp -r "$build/standins/site" "$state/site"
kvn_start_server --root "$state/site"
kvn_seed_install

pkg="$state/package"
kvn_package_copy "$pkg"
cd "$pkg"

# No window manager runs under Xvfb: the watcher records the iconify
# requests that one would act on.
python3 "$here/xwin.py" watch "$state/wm.log" & pids+=($!)
wait_for 100 grep -q '^ready$' "$state/wm.log" || fail "window-manager watcher did not start"

# Check of the check: the close request ends an ordinary GTK window (the
# stand-in client's), so a launcher that stays open really received it.
mkdir "$state/control"
(cd "$state/control" && exec "$inst/Launcher.exe") & control=$!; pids+=($control)
wait_for 200 window_of $control "已登录：" || fail "no stand-in client window"
python3 "$here/xwin.py" close "$(window_of $control "已登录：" | head -1)"
wait_exit $control 100 || fail "the close request did not end a plain GTK window"

loaded_at_least() { [ "$(requests_for "/micro/loaded?page=login&t=[0-9]*")" -ge "$1" ]; }
iconify_requests() { grep -c "^$win 3\$" "$state/wm.log" || true; }
# A click on the minimise button (control 1001) at (951, 80), 25 x 26. Input
# is handled in order, so once its request arrives every earlier key has
# been handled too.
minimised=0
minimise() {
  minimised=$((minimised + 1))
  click_in "$win" 963 93
  wait_for 100 test "$(iconify_requests)" -ge $minimised || fail "$1"
}
still_open() {
  kill -0 $pid 2>/dev/null || fail "$1 ended the launcher"
  xwininfo -id "$win" 2>/dev/null | grep -q 'Map State: IsViewable' || fail "$1 closed the launcher window"
}

./Login.exe & pid=$!; pids+=($pid)
wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window"
win=$(window_of $pid "Korvane安装程序" | head -1)
wait_for 300 loaded_at_least 1 || fail "login page not loaded"
[ "$(xdotool getwindowname "$win")" = "Korvane安装程序" ] || fail "page title in the window: $(xdotool getwindowname "$win")"
xdotool windowfocus --sync "$win" 2>/dev/null || true
# A click on the page's background takes the focus out of the login field,
# so that Enter has nothing to send.
click_in "$win" 120 160

minimise "the minimise button sent no iconify request"
still_open "the minimise button"
# The click left the focus on the minimise button: Enter and Space click
# it again, Esc is still only the dialog's (no click).
for key in Return KP_Enter space; do
  minimised=$((minimised + 1))
  xdotool key "$key"
  wait_for 100 test "$(iconify_requests)" -ge $minimised || fail "$key did not click the focused minimise button"
done
xdotool key Escape
minimise "no iconify request after Escape on the focused button"
[ "$(iconify_requests)" = $minimised ] || fail "Escape clicked the focused minimise button"
still_open "Escape on the focused button"
for key in Return KP_Enter Escape alt+F4; do
  click_in "$win" 120 160  # the focus goes back to the page
  xdotool key "$key"
  minimise "no iconify request after $key"
  still_open "$key"
done
python3 "$here/xwin.py" close "$win"
minimise "no iconify request after the close request"
still_open "the window manager's close request"

# The close button (control 1002) at (981, 80), 25 x 26.
click_in "$win" 993 93
wait_exit $pid 100 || fail "the close button did not end the launcher"
[ "$exit_code" = 0 ] || fail "exit code after the close button: $exit_code"

# Enter in the login field is the page's: it sends the form.
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window on the second run"
win=$(window_of $pid "Korvane安装程序" | head -1)
wait_for 300 loaded_at_least 2 || fail "login page not loaded on the second run"
xdotool windowfocus --sync "$win" 2>/dev/null || true
click_in "$win" 503 305
xdotool type --delay 20 "enter"
xdotool key Return
wait_exit $pid 300 || fail "Enter in the login field did not log in"
[ "$exit_code" = 0 ] || fail "exit code after the login: $exit_code"
[ "$(cat "$inst/kvnlogin.dat")" = enter ] || fail "kvnlogin.dat after Enter: $(cat "$inst/kvnlogin.dat")"
# A page taller than the view, with new-window requests; the default
# browser is a stand-in that records the addresses it is given. It is the
# handler of every scheme and file type a page might try.
handled="x-scheme-handler/http x-scheme-handler/https x-scheme-handler/file x-scheme-handler/ftp
  x-scheme-handler/smb x-scheme-handler/ms-msdt x-scheme-handler/search-ms x-scheme-handler/data
  x-scheme-handler/javascript x-scheme-handler/kvnx-made-up x-scheme-handler/mailto text/plain
  text/html application/x-ms-dos-executable application/x-msdownload application/octet-stream"
cat > "$XDG_DATA_HOME/applications/kvn-browser.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Browser
Exec=sh -c 'echo "\$1" >> $state/browser.log' sh %u
MimeType=$(printf '%s;' $handled)
EOF
{ echo '[Default Applications]'; for t in $handled; do echo "$t=kvn-browser.desktop"; done; } \
  > "$XDG_CONFIG_HOME/mimeapps.list"
printf '%s' "$site/micro/tall.html" > login.ini
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window for the tall page"
win=$(window_of $pid "Korvane安装程序" | head -1)
tall_loaded() { [ "$(requests_for "/micro/loaded?page=tall&t=[0-9]*")" -ge 1 ]; }
wait_for 300 tall_loaded || fail "tall page not loaded"
minimised=0  # counted per window
windows=$(xdotool search --onlyvisible --pid $pid --name '' | wc -l)
# The view's right edge, where a vertical scroll bar would be, is all the
# page's own colour (the minimise request is a barrier: the window has
# handled everything before it, painting included).
minimise "no iconify request after the tall page was shown"
colours=$(import -window "$win" -crop 16x380+950+125 +repage -format %k info:)
[ "$colours" = 1 ] || fail "the view's right edge shows $colours colours (a scroll bar?)"
browsed() { [ "$(wc -l < "$state/browser.log")" -ge "$1" ]; }
click_in "$win" 90 236    # the link with target="_blank"
wait_for 100 browsed 1 || fail "the link's new window did not go to the browser"
sleep 1.1                 # the browser starts at most once a second
click_in "$win" 90 274    # window.open from the page's button
wait_for 100 browsed 2 || fail "window.open did not go to the browser"
minimise "no iconify request after the new-window requests"
printf 'http://example.invalid/blank\nhttp://example.invalid/opened\n' > "$state/expected"
cmp -s "$state/expected" "$state/browser.log" || fail "the browser was given: $(cat "$state/browser.log")"
[ "$(xdotool search --onlyvisible --pid $pid --name '' | wc -l)" = "$windows" ] ||
  fail "a new-window request opened a window in the launcher"
still_open "the new-window requests"
click_in "$win" 993 93
wait_exit $pid 100 || fail "the close button did not end the launcher after the tall page"

# A page that tries other schemes: links followed in the view (one line of
# 24 pixels each from the page's top) and, from one button, a new window for
# each of them and then 200 for one web address.
hostile=(
  'file:///etc/passwd#http' 'file://host/share/x.exe#http' 'ms-msdt:-id PCWDiagnostic /param http'
  'search-ms:query=http&crumb=location:\\host\share' 'smb://host/share/http' 'ftp://host/http/x.exe'
  'data:text/html,http' 'kvnx-made-up://http/' 'javascript:void(0)//http')
mkdir -p "$state/site/links"
{
  cat <<'EOF'
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>links</title>
<style>
  body { margin: 0; background: #fff; font: 16px sans-serif; }
  a, button { display: block; box-sizing: border-box; height: 24px; margin: 0; padding: 0 8px; width: 400px; }
</style></head><body>
EOF
  for i in "${!hostile[@]}"; do
    printf '<a href="%s">link %d</a>\n' "$(python3 -c 'import html, sys; print(html.escape(sys.argv[1]))' "${hostile[$i]}")" "$i"
  done
  echo '<button id="storm">storm</button>'
  echo '<a href="https://example.invalid/blank" target="_blank">blank</a>'
  echo '<script>var hostile = ['
  for a in "${hostile[@]}"; do python3 -c 'import json, sys; print(json.dumps(sys.argv[1]) + ",")' "$a"; done
  cat <<'EOF'
];
document.getElementById("storm").addEventListener("click", function () {
  hostile.forEach(function (a) { window.open(a); });
  for (var i = 0; i < 200; i++) window.open("HTTP://example.invalid/storm");
});
window.addEventListener("load", function () { new Image().src = "/links/loaded?t=" + Date.now(); });
</script></body></html>
EOF
} > "$state/site/links/index.html"
: > "$state/browser.log"
printf '%s' "$site/links/" > login.ini
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window for the links page"
win=$(window_of $pid "Korvane安装程序" | head -1)
links_loaded() { [ "$(requests_for "/links/loaded?t=[0-9]*")" -ge 1 ]; }
wait_for 300 links_loaded || fail "links page not loaded"
minimised=0
minimise "no iconify request after the links page was shown"
# The view starts at (38, 120) in the window.
row() { echo $((120 + 24 * $1 + 12)); }
for i in "${!hostile[@]}"; do click_in "$win" 90 "$(row $i)"; done
# The view handles its input in order: once the storm's address arrives,
# every link before it has been decided.
click_in "$win" 90 "$(row ${#hostile[@]})"
given() { tr '\n' ' ' < "$state/browser.log"; }
wait_for 100 browsed 1 || fail "the button's 200 windows started no browser"
sleep 1.1  # a second after that start, the target link goes out again
click_in "$win" 90 "$(row $((${#hostile[@]} + 1)))"
wait_for 100 browsed 2 || fail "the target link after the storm did not go to the browser (given: $(given))"
minimise "no iconify request after the hostile links"
sleep 1  # a late start would show here
printf 'http://example.invalid/storm\nhttps://example.invalid/blank\n' > "$state/expected"
cmp -s "$state/expected" "$state/browser.log" || fail "the browser was given: $(given)"
[ "$(requests_for "/links/loaded?t=[0-9]*")" -eq 1 ] || fail "a link of another scheme replaced the page"
still_open "the hostile links"
click_in "$win" 993 93
wait_exit $pid 100 || fail "the close button did not end the launcher after the hostile links"

# Only the player's click opens the default browser: the page and a hidden
# frame of it click an outside link by script every 100 ms for 3 s and
# open nothing; the same link clicked with the mouse opens it once. The
# view follows neither: the page stays, and the other site is never asked.
kvn_start_second_server --root "$state/site"
: > "$state/browser.log"
printf '%s' "$site/micro/outside.html#out=$site2" > login.ini
./Login.exe & pid=$!; pids+=($pid)
wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window for the outside-link page"
win=$(window_of $pid "Korvane安装程序" | head -1)
script_clicks_done() { [ "$(requests_for "/micro/loaded?page=outside&clicker=.*&clicks=30")" -ge 2 ]; }
wait_for 300 script_clicks_done || fail "the outside-link page did not make its script clicks"
minimised=0
minimise "no iconify request after the script clicks"
[ ! -s "$state/browser.log" ] || fail "script clicks started the browser: $(given)"
click_in "$win" 138 150   # the page's link at the view's top left
wait_for 100 browsed 1 || fail "the link clicked with the mouse did not go to the browser"
sleep 1.1                 # a late or second start would show here
minimise "no iconify request after the outside link"
printf '%s\n' "$site2/outside/news" > "$state/expected"
cmp -s "$state/expected" "$state/browser.log" || fail "the browser was given: $(given)"
[ "$(requests2_for "/outside/.*")" = 0 ] || fail "the view followed an outside link"
[ "$(requests_for "/micro/outside.html")" = 1 ] || fail "the outside-link page was loaded again"
still_open "the outside link"
echo "PASS"
