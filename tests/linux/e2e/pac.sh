#!/usr/bin/env bash
# End to end on Linux: a desktop whose proxy comes from a PAC file (GNOME's
# automatic mode, read by GIO's resolver through its PAC runner on the
# session bus). 1. The PAC names a proxy that is not there, then DIRECT: the
# record arrives direct, the login page loads, and no failure box shows.
# 2. The PAC's host takes the connection and never answers: every lookup
# hangs, each attempt ends at the receive time-out, and the box comes
# within ten attempts of 8 s.
# Usage: pac.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
source "$(dirname "$0")/lib.bash"
kvn_init "$1" "$2"
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# A PAC whose proxy is a port nobody listens on, and a PAC address that hangs.
closed=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$state/rules.json" <<JSON
{"/proxy.pac": {"body": "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:$closed; DIRECT\"; }",
                "headers": {"Content-Type": "application/x-ns-proxy-autoconfig"}},
 "/hang.pac": {"hang": true}}
JSON
kvn_start_server --rules "$state/rules.json"

# A session bus of this run's own, for the resolver's PAC runner.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 --nopidfile)
export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | head -1)
pids+=($(echo "$bus" | sed -n 2p))
export XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=keyfile
desktop_pac() {
  gsettings set org.gnome.system.proxy mode auto
  gsettings set org.gnome.system.proxy ignore-hosts "[]"
  gsettings set org.gnome.system.proxy autoconfig-url "$1"
}

kvn_seed_install
# A stored record one client version behind the served one, so that the
# served record is stored (one that changes no number is not written).
sed -i 's/^VersionNumber=.*/VersionNumber=99\r/' "$inst/LoginExeVersionInfo.ini"
cp "$inst/LoginExeVersionInfo.ini" "$state/stored.ini"
pkg="$state/package"
kvn_package_copy "$pkg"
cd "$pkg"
record_requests() { requests_for /download/LoginExeVersionInfo.ini; }

# 1. A closed proxy, then DIRECT.
desktop_pac "$site/proxy.pac"
started=$(date +%s%N)
./Login.exe & pid=$!; pids+=($pid)
wait_for 600 bash -c "grep -q '\"target\": \"/download/LoginExeVersionInfo.ini\"' '$state/requests.log'" ||
  fail "the record was never asked for"
echo "the record was asked for $(( ($(date +%s%N) - started) / 1000000 )) ms after the start"
wait_for 600 login_pages_at_least 1 || fail "no login page"
echo "the login page was asked for $(( ($(date +%s%N) - started) / 1000000 )) ms after the start"
[ "$(requests_for /proxy.pac)" -ge 1 ] || fail "the PAC file was never fetched"
grep -q '^VersionNumber=100' "$inst/LoginExeVersionInfo.ini" || fail "the record did not arrive direct"
[ "$(record_requests)" = 1 ] || fail "$(record_requests) requests for the record, not one"
grep -q '"Via": "1.1 kvn-proxy"' "$state/requests.log" && fail "a request came through a proxy"
sleep 1
window_of $pid Login >/dev/null && fail "a box showed: $(xdotool getwindowname "$(window_of $pid Login | head -1)")"
kill $pid; wait $pid 2>/dev/null || true
echo "ok: a PAC naming a closed proxy, then DIRECT: the record came direct, no box"

# 2. The PAC's host never answers: each lookup waits on the session bus
#    until D-Bus gives up (25 s); the attempts meanwhile end at 7 s each.
cp "$state/stored.ini" "$inst/LoginExeVersionInfo.ini"
desktop_pac "$site/hang.pac"
before=$(record_requests)
started=$(date +%s%N)
./Login.exe & pid=$!; pids+=($pid)
wait_for 1000 window_of $pid Login || fail "no box within 100 s"
took=$(( ($(date +%s%N) - started) / 1000000 ))
echo "the failure box came $took ms after the start"
[ "$took" -lt 80000 ] || fail "the box came after $took ms, beyond ten attempts of 8 s"
[ "$(record_requests)" = "$before" ] || fail "a request for the record went out without a way"
cmp -s "$state/stored.ini" "$inst/LoginExeVersionInfo.ini" || fail "the stored record changed"
ls "$inst" | grep -q -E '\.(new|part|sig)$' && fail "a failed download left a file"
dismiss_box $pid Login || fail "the box did not close"
kill $pid; wait $pid 2>/dev/null || true
echo "ok: a PAC host that never answers: the box within ten attempts, the stored record kept"
echo "PASS"
