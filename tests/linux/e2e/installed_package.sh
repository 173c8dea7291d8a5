#!/usr/bin/env bash
# End to end on Linux: the package as a player gets it. A copy of the
# package in a scratch folder outside the source and build trees starts on a
# clean account with nothing of the tests in its environment but the two
# server addresses and the drive table, and no stand-in folder on PATH. The
# first start installs the client, registers the plug-in with the package's
# own regsvr32 and shows the login page with its buttons drawn over the skin
# (pixels of each button's place against the skin behind it); every desktop
# entry names an icon file that exists; a login typed into the page is
# handed to the client. The screenshot is kept in the build folder
# (installed_package.png) for a person to look at.
# Usage: installed_package.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
source "$(dirname "$0")/lib.bash"
kvn_init "$1" "$2"
kvn_start_server
case "$state/" in "$src/"* | "$build/"*) fail "the scratch folder $state lies in the source or build tree" ;; esac
# A clean account: no data folder, no desktop folder, nothing registered.
rm -rf "$HOME/.local" "$HOME/Desktop" "$XDG_CONFIG_HOME/korvane"

pkg="$state/downloads/Korvane"
mkdir -p "$(dirname "$pkg")"
kvn_package_copy "$pkg"
# The player's environment: the account, the display, the system's PATH and
# locale; of the launcher's variables only the servers and the drive table.
system_path=/usr/local/bin:/usr/bin:/bin
player_env=(HOME="$HOME" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" DISPLAY="$DISPLAY" PATH="$system_path"
            LANG=C.UTF-8 KORVANE_SITE="$site" KORVANE_DOWNLOAD="$site" KORVANE_DRIVES="$KORVANE_DRIVES")
[ -n "${XAUTHORITY:-}" ] && player_env+=(XAUTHORITY="$XAUTHORITY")
# A regsvr32 on the system's PATH (Wine's, where Wine is installed) cannot
# write the port's registry file: only the package's own can register.

(cd "$pkg" && exec env -i "${player_env[@]}" ./Login.exe) & pid=$!; pids+=($pid)
wait_for 300 window_of $pid "Korvane安装程序" || fail "no launcher window"
win=$(window_of $pid "Korvane安装程序" | head -1)
extra=$(tr '\0' '\n' < "/proc/$pid/environ" | grep '^KORVANE_' | grep -Ev '^KORVANE_(SITE|DOWNLOAD|DRIVES)=' || true)
[ -z "$extra" ] || fail "the launcher runs with $extra"
[ "$(tr '\0' '\n' < "/proc/$pid/environ" | sed -n 's/^PATH=//p')" = "$system_path" ] || fail "PATH not the system's"

# Installed and registered: the package's regsvr32 ran, and went with it.
wait_for 900 grep -qF 'Path=C:\\Korvanis\\bin\\npKVNWebPlayer.dll' "$HOME/.config/korvane/registry.ini" \
  || fail "plug-in not registered"
[ -x "$inst/regsvr32" ] || fail "regsvr32 not placed in the install folder"
loaded() { [ "$(requests_for "/micro/loaded?page=login&t=[0-9]*")" -ge 1 ]; }
wait_for 600 loaded || fail "login page not loaded after the installation"
echo "ok: installed from $pkg, plug-in registered by the package's regsvr32"

# Every desktop entry names an icon file that exists: the launcher's icon.
entries=0
while IFS= read -r -d '' entry; do
  entries=$((entries + 1))
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [ -n "$icon" ] || fail "$entry names no icon"
  [ -f "$icon" ] || fail "$entry names the icon $icon, which does not exist"
  [ "$(identify -format '%m %wx%h' "$icon")" = "PNG 32x32" ] || fail "$icon is not the 32x32 icon"
done < <(find "$HOME/Desktop" "$HOME/.local/share/applications" -name '*.desktop' -print0)
[ "$entries" = 3 ] || fail "$entries desktop entries, not 3"
echo "ok: $entries desktop entries, each with its icon"

# The buttons over the skin. The page is given a moment to paint for the
# picture; the checks below do not depend on it.
sleep 1
shot=$state/screen.png
import -window root "$shot"
cp "$shot" "$build/installed_package.png"
eval "$(xdotool getwindowgeometry --shell "$win")"   # X, Y, WIDTH, HEIGHT
[ "${WIDTH}x${HEIGHT}" = 1035x590 ] || fail "window size ${WIDTH}x${HEIGHT}"
# Pixels (of w*h at x,y in the window) that differ between the screen and the skin.
differing() {
  local w=$1 h=$2 x=$3 y=$4
  convert "$shot" -crop "${w}x${h}+$((X + x))+$((Y + y))" +repage "$state/screen-part.png"
  convert "$pkg/LauncherDlg.bmp" -crop "${w}x${h}+$x+$y" +repage "$state/skin-part.png"
  compare -metric AE -fuzz 5% "$state/screen-part.png" "$state/skin-part.png" null: 2>&1 || true
}
# Where no control lies, the screen is the skin: the places below line up.
same=$(differing 100 20 600 84)
echo "skin alone (100x20 at 600,84): $same pixels differ"
[ "$same" -le 20 ] || fail "the screen is not the skin where no control lies ($same of 2000 pixels differ)"
for button in "close 25 26 981 80" "minimise 25 26 951 80" "video 103 23 829 81"; do
  set -- $button
  n=$(differing "$2" "$3" "$4" "$5")
  echo "$1 button (${2}x$3 at $4,$5): $n of $(($2 * $3)) pixels differ from the skin"
  [ "$n" -ge $(($2 * $3 / 3)) ] || fail "the $1 button is not drawn over the skin"
done

# A login typed into the page's field, sent with its button: the client
# starts in the install folder with the login, the launcher ends with 0.
login='player1'
xdotool windowfocus --sync "$win" 2>/dev/null || true
click_in "$win" 503 305
xdotool type --delay 20 "$login"
click_in "$win" 503 357
wait_exit $pid 300 || true
[ "$exit_code" = 0 ] || fail "launcher exit code after the login: $exit_code"
[ "$(cat "$inst/kvnlogin.dat")" = "$login" ] || fail "kvnlogin.dat holds '$(cat "$inst/kvnlogin.dat")'"
wait_for 100 test -s "$inst/client-started.txt" || fail "the client did not start"
printf 'login=%s\ncwd=%s\n' "$login" "$inst" > "$state/expected"
cmp -s "$state/expected" "$inst/client-started.txt" || fail "client record: $(cat "$inst/client-started.txt")"
echo "ok: a login hands over to the installed client"
echo "PASS"
