# Shared set-up of the end-to-end checks of Login.exe under Wine (sourced by
# each *.sh of this folder, called as: bash script <build dir> <source dir>).
#
# Gives: $BUILD $SRC $LOGIN_EXE $PACKAGE $SCRATCH $SERVER_PORT, a Wine prefix
# (the exported one, else a private one), an X display (Xvfb when none),
# the local web site / download server, and helpers to start Login.exe and
# wait for its windows. Everything started here is stopped on exit.
set -euo pipefail

BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
SELF=$3  # the calling script, to run it again under Xvfb

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" bash "$SELF" "$BUILD" "$SRC"
fi

LOGIN_EXE=$BUILD/platform/win32/Login.exe
[ -f "$LOGIN_EXE" ] || { echo "FAIL: $LOGIN_EXE not built"; exit 1; }

export WINEDEBUG=${WINEDEBUG:--all}
# No menu entries or desktop files made on the Unix side for the links.
export WINEDLLOVERRIDES="winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
SCRATCH=$(mktemp -d /tmp/kvn-e2e.XXXXXX)
PRIVATE_PREFIX=0
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$(mktemp -d /tmp/kvn-e2e-wine.XXXXXX)
  PRIVATE_PREFIX=1
  # Wine links the user's Desktop folder to $HOME: keep it in the scratch.
  export HOME=$SCRATCH/home
  mkdir -p "$HOME"
fi
STARTED_PIDS=()
SERVER_PID=

cleanup() {
  set +e
  for pid in "${STARTED_PIDS[@]}"; do
    for child in $(ps -o pid= --ppid "$pid" 2>/dev/null); do kill "$child" 2>/dev/null; done
    kill "$pid" 2>/dev/null
  done
  # Programs started on their own (a launcher started by update.exe, a game
  # client) run from the scratch folder: their command lines name it.
  pkill -f "$(basename "$SCRATCH")" 2>/dev/null
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
  [ -n "${DRIVE_C:-}" ] && remove_links
  if [ "$PRIVATE_PREFIX" = 1 ]; then
    wineserver -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
  fi
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }
pass() { echo "ok: $*"; }

# A private prefix is made here; either kind gets the Chinese font.
bash "$SRC/scripts/wine-prefix.sh"
DRIVE_C=$(cd "$WINEPREFIX/drive_c" && pwd)

# The launcher's links: the desktop one (the Desktop folder may lead out of
# the prefix) and the start-menu folder.
DESKTOP_LINKS() { ls -d "$DRIVE_C"/users/*/Desktop/Korvane.lnk 2>/dev/null || true; }
remove_links() {
  local link
  for link in $(DESKTOP_LINKS); do rm -f "$link"; done
  rm -rf "$DRIVE_C"/users/*/AppData/Roaming/Microsoft/Windows/'Start Menu'/Programs/Korvane
}

# One string of a shell link file as the shell stores it: name, relpath,
# workdir, args or icon ("" when the link has none).
link_string() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
flags = struct.unpack_from("<I", data, 20)[0]
at = 76
if flags & 0x1: at += 2 + struct.unpack_from("<H", data, at)[0]   # target ID list
if flags & 0x2: at += struct.unpack_from("<I", data, at)[0]       # link info
wide = bool(flags & 0x80)
out = {}
for name, bit in (("name", 0x4), ("relpath", 0x8), ("workdir", 0x10), ("args", 0x20), ("icon", 0x40)):
    if not flags & bit: continue
    n = struct.unpack_from("<H", data, at)[0]; at += 2
    size = n * 2 if wide else n
    raw = data[at:at + size]; at += size
    out[name] = raw.decode("utf-16-le" if wide else "latin-1")
print(out.get(sys.argv[2], ""))
PY
}

# Starts from a machine without the game: no install folder, no plug-in
# registration, no shortcuts left by an earlier check in the same prefix.
reset_machine() {
  rm -rf "$DRIVE_C/Korvanis"
  wine reg delete 'HKCU\SOFTWARE\MozillaPlugins' /f >/dev/null 2>&1 || true
  remove_links
}

# The launcher package: the one assembled by the build (kvn_package), else a
# minimal one made here (no client archive).
PACKAGE=$BUILD/package
if [ ! -f "$PACKAGE/KVNClient.7z" ]; then
  PACKAGE=$SCRATCH/package
  mkdir -p "$PACKAGE"
  cp "$SRC/standins/site/download/LauncherDlg.bmp" "$SRC/standins/site/download/LoginExeVersionInfo.ini" \
     "$SRC/standins/package/Uninstall.list" "$PACKAGE/"
  printf 'not an archive' > "$PACKAGE/KVNClient.7z"
  printf 'not a program' > "$PACKAGE/7zr.exe"
fi
PACKAGE_FILES="Login.exe LauncherDlg.bmp Uninstall.list LoginExeVersionInfo.ini KVNClient.7z 7zr.exe"

# Signs files with the demo key the test build trusts (FILE.sig beside each).
sign_files() { "$BUILD/tools/kvn_sign" sign "$SRC/standins/keys/demo_update_key.secret" "$@" >/dev/null; }

# The local web site and download server on an ephemeral loopback port: the
# build's copy of the site, its download files signed with the demo key.
start_server() {
  local portfile=$SCRATCH/server.port
  python3 "$SRC/standins/server/kvn_server.py" --root "$BUILD/standins/site" --port-file "$portfile" \
    --log "$SCRATCH/server.log" --port 0 >"$SCRATCH/server.out" 2>&1 &
  SERVER_PID=$!
  for _ in $(seq 1 100); do [ -s "$portfile" ] && break; sleep 0.1; done
  [ -s "$portfile" ] || fail "the local server did not start"
  SERVER_PORT=$(cat "$portfile")
  export KORVANE_SITE=http://127.0.0.1:$SERVER_PORT KORVANE_DOWNLOAD=http://127.0.0.1:$SERVER_PORT
}

# A launcher folder: the package files (Login.exe fresh from the build).
make_launcher_folder() {
  local dir=$1
  mkdir -p "$dir"
  cp "$PACKAGE"/* "$dir/"
  cp "$LOGIN_EXE" "$dir/Login.exe"
  printf '%s' "$KORVANE_SITE/micro/" > "$dir/login.ini"
}

# start_login <folder> [args...]: runs Login.exe from the folder (as working
# directory) in the background; LAST_PID is the Wine process, its exit code
# goes to $SCRATCH/exit.<pid>. Wine's own messages go to $WINE_LOG if set.
start_login() {
  local dir=$1
  shift
  (cd "$dir" && { "$SRC/scripts/wine-run.sh" ./Login.exe "$@" >/dev/null 2>"${WINE_LOG:-/dev/null}"; echo $? >"$SCRATCH/exit.$BASHPID"; }) &
  LAST_PID=$!
  STARTED_PIDS+=("$LAST_PID")
}

# wait_window <exact title> [seconds]: prints the X window id once a window
# of that title is shown (a window found before it is mapped drops clicks).
wait_window() {
  local title=$1 limit=${2:-60} id
  for _ in $(seq 1 $((limit * 4))); do
    id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.25
  done
  return 1
}

window_exists() { xdotool search --name "^$1\$" >/dev/null 2>&1; }

# wait_exit <pid> [seconds]: true once the process has ended.
wait_exit() {
  local pid=$1 limit=${2:-60}
  for _ in $(seq 1 $((limit * 4))); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.25
  done
  return 1
}

exit_code_of() { cat "$SCRATCH/exit.$1" 2>/dev/null || echo none; }

# wait_file <path> [seconds]
wait_file() {
  local path=$1 limit=${2:-60}
  for _ in $(seq 1 $((limit * 4))); do
    [ -e "$path" ] && return 0
    sleep 0.25
  done
  return 1
}

# key_to <window id> <keys...>: focuses the window and types the keys. A
# window that has gone meanwhile is not an error here: callers check what
# the keys did.
key_to() {
  local id=$1
  shift
  { xdotool windowfocus --sync "$id" || xdotool windowfocus "$id"; } >/dev/null 2>&1 || return 0
  xdotool key "$@" >/dev/null 2>&1 || true
}

# press_until_exit <pid> <exact title> <key> [seconds]: types the key into
# the window of that title until the process has ended (a box that has just
# appeared may not take keys yet).
press_until_exit() {
  local pid=$1 title=$2 key=$3 limit=${4:-60} id
  for _ in $(seq 1 $((limit * 2))); do
    kill -0 "$pid" 2>/dev/null || return 0
    id=$(xdotool search --name "^${title}\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && key_to "$id" "$key" 2>/dev/null
    sleep 0.5
  done
  ! kill -0 "$pid" 2>/dev/null
}

# Clicks the launcher's close button (control 1002 at 981, 80, 25 x 26).
click_close_button() {
  xdotool mousemove --window "$1" $((981 + 12)) $((80 + 13)) click 1
}
