# Shared pieces of the Linux end-to-end checks (sourced; not a check itself).
# kvn_init <build dir> <source dir> gives each run its own scratch machine:
# HOME and XDG folders, drive C. The launcher finds what it runs in its own
# package (regsvr32 among it), never on PATH. Everything the run started is
# ended, and the scratch folder removed, on exit.

fail() { echo "FAIL: $*"; exit 1; }
# Waits up to $1 tenths of a second for a command to succeed.
wait_for() { local n=$1; shift; for _ in $(seq "$n"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }
window_of() { xdotool search --all --onlyvisible --pid "$1" --name "^$2\$"; }

kvn_init() {
  build=$(cd "$1" && pwd) src=$(cd "$2" && pwd)
  [ -x "$build/package/Login.exe" ] || fail "no launcher package in $build/package (target kvn_package)"
  state=$(mktemp -d /tmp/kvn-e2e.XXXXXX)
  pids=()
  trap kvn_cleanup EXIT
  export HOME=$state/home XDG_CONFIG_HOME=$state/home/.config XDG_DATA_HOME=$state/home/.local/share
  export XDG_CACHE_HOME=$state/home/.cache XDG_RUNTIME_DIR=$state/run
  mkdir -p "$HOME/Desktop" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/applications" "$XDG_RUNTIME_DIR" "$state/C"
  chmod 700 "$XDG_RUNTIME_DIR"
  export KORVANE_DRIVES="C=$state/C"
  export WEBKIT_DISABLE_COMPOSITING_MODE=1
  inst="$state/C/Korvanis"
}

# Programs started from the scratch folder (launchers, stand-in clients the
# launcher started and left behind) are found by their executable's path.
kvn_strays() {
  find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$state/*" 2>/dev/null | cut -d/ -f3
}

kvn_cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in $(kvn_strays); do kill "$p" 2>/dev/null || true; done
  cd /
  # A process that was just told to end (a web view's helper) may still be
  # writing its cache: try again briefly rather than fail a passed check.
  for _ in 1 2 3 4 5; do rm -rf "$state" 2>/dev/null && return 0; sleep 0.5; done
  rm -rf "$state"
}

# The stand-in web site and download server on a free loopback port: the
# build's copy of the site, its download files signed with the demo key.
kvn_start_server() {
  python3 "$src/standins/server/kvn_server.py" --root "$build/standins/site" --port-file "$state/port" \
    --log "$state/requests.log" "$@" & pids+=($!)
  wait_for 100 test -s "$state/port" || fail "server did not start"
  port=$(cat "$state/port")
  site=http://127.0.0.1:$port
  export KORVANE_SITE=$site KORVANE_DOWNLOAD=$site
}

# A second server on another port, serving the same folder as the first
# (pass --root when the first has its own): another site, another origin.
# Its requests go to requests2.log.
kvn_start_second_server() {
  python3 "$src/standins/server/kvn_server.py" --root "$build/standins/site" --port-file "$state/port2" \
    --log "$state/requests2.log" "$@" & pids+=($!)
  wait_for 100 test -s "$state/port2" || fail "second server did not start"
  site2=http://127.0.0.1:$(cat "$state/port2")
}
requests2_for() { cat "$state/requests2.log" 2>/dev/null | grep -c "\"target\": \"$1\"" || true; }

# Signs files with the demo key the test build trusts (FILE.sig beside each).
kvn_sign_files() { "$build/tools/kvn_sign" sign "$src/standins/keys/demo_update_key.secret" "$@" >/dev/null; }

requests_for() { grep -c "\"target\": \"$1\"" "$state/requests.log" || true; }
login_pages_at_least() { [ "$(requests_for /micro/)" -ge "$1" ]; }

# A copy of the launcher package at $1 (the launcher's own folder).
kvn_package_copy() { cp -r "$build/package" "$1"; }

# The state a finished installation leaves, made without the launcher: the
# package's files and the unpacked client in C:\Korvanis, and the plug-in
# registered by the package's regsvr32 as the install worker runs it.
kvn_seed_install() {
  mkdir -p "$inst"
  cp "$build/package/"* "$inst/"
  (cd "$inst" && 7zz x -y -bso0 -bsp0 KVNClient.7z && ./regsvr32 /s "$inst/bin/npKVNWebPlayer.dll") \
    || fail "could not seed the installed client"
  grep -qF 'Path=C:\\Korvanis\\bin\\npKVNWebPlayer.dll' "$XDG_CONFIG_HOME/korvane/registry.ini" \
    || fail "seeded plug-in not registered"
}

# Waits up to $2 tenths of a second for background job $1 to end and sets
# exit_code to its exit status, or to "timeout". (Not in a subshell: only
# the shell that started a job can collect its status.)
wait_exit() {
  exit_code=timeout
  wait_for "$2" bash -c "! kill -0 $1" || return 1
  exit_code=0
  wait "$1" || exit_code=$?
}

# Closes the visible window of process $1 named $2 with Enter, pressing again
# while it stays (a box can be found before it takes the focus); 10 s at most.
dismiss_box() {
  local box
  for _ in $(seq 20); do
    box=$(window_of "$1" "$2" 2>/dev/null | head -1) || true
    [ -n "$box" ] || return 0
    xdotool windowfocus --sync "$box" 2>/dev/null && xdotool key Return 2>/dev/null || true
    wait_for 5 bash -c "! xdotool search --onlyvisible --pid $1 --name '^$2\$'" && return 0
  done
  return 1
}

# Pointer click at a point given in the window's own coordinates.
click_in() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
}
