#!/usr/bin/env bash
# End to end on Linux: a player whose desktop names a proxy, and no proxy
# variables in the environment. The desktop's settings live in GSettings
# (the keyfile back end in the scratch account, read by GIO's resolver for a
# GNOME session). The version record, its signature and the login page all
# go through the proxy stand-in. Then with a proxy that fails every request,
# and with one that is not there at all: ten attempts at the record, the
# message, and the stored record as it was.
# Usage: proxy.sh <build dir> <source dir>; needs a display (Xvfb).
set -euo pipefail
source "$(dirname "$0")/lib.bash"
kvn_init "$1" "$2"
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
kvn_start_server

start_proxy() {
  rm -f "$state/proxy-port"
  python3 "$src/standins/server/kvn_proxy.py" --port-file "$state/proxy-port" \
    --log "$state/proxy.log" "$@" & proxy_pid=$!; pids+=($proxy_pid)
  wait_for 100 test -s "$state/proxy-port" || fail "the proxy stand-in did not start"
  proxy_port=$(cat "$state/proxy-port")
}
start_proxy

# The desktop's proxy: manual, this one for http, no exceptions (loopback is
# one by default, and both stand-ins are on loopback).
export XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=keyfile
desktop_proxy() {
  gsettings set org.gnome.system.proxy mode manual
  gsettings set org.gnome.system.proxy ignore-hosts "[]"
  gsettings set org.gnome.system.proxy.http host 127.0.0.1
  gsettings set org.gnome.system.proxy.http port "$1"
}
desktop_proxy "$proxy_port"
[ -f "$XDG_CONFIG_HOME/glib-2.0/settings/keyfile" ] || fail "the settings did not go to the keyfile"

kvn_seed_install
# A stored record one client version behind the served one, so that the
# served record is stored (one that changes no number is not written).
sed -i 's/^VersionNumber=.*/VersionNumber=99\r/' "$inst/LoginExeVersionInfo.ini"
pkg="$state/package"
kvn_package_copy "$pkg"
cd "$pkg"

through_proxy() { grep -qF "\"target\": \"$site$1\"" "$state/proxy.log"; }

# 1. Everything through the proxy.
./Login.exe & pid=$!; pids+=($pid)
wait_for 600 login_pages_at_least 1 || fail "no login page through the proxy"
for path in /download/LoginExeVersionInfo.ini /download/LoginExeVersionInfo.ini.sig /micro/; do
  through_proxy "$path" || fail "$path did not go through the proxy: $(cat "$state/proxy.log")"
done
grep -qF '"version": "HTTP/1.0"' "$state/proxy.log" || fail "the downloads' requests changed form"
# Each request the server saw came through the proxy, which marks the
# requests it passes on.
# (One copy of the log, as the page may still be asking for more.)
cp "$state/requests.log" "$state/requests.seen"
seen=$(grep -c . "$state/requests.seen")
proxied=$(grep -c '"Via": "1.1 kvn-proxy"' "$state/requests.seen" || true)
[ "$seen" = "$proxied" ] || fail "$((seen - proxied)) of $seen requests went around the proxy"
grep -q '^VersionNumber=100' "$inst/LoginExeVersionInfo.ini" ||
  fail "the record fetched through the proxy was not stored"
kill $pid; wait $pid 2>/dev/null || true
echo "ok: the record, its signature and the login page went through the desktop's proxy"

# 2. A proxy that takes each connection and drops it: ten attempts at the
#    record, the message, the stored record as it was.
printf '[VersionInfo]\r\nLoginExeVersionNumber=1\r\nDlgBackVersionNumber=1\r\nVersionNumber=100\r\n' \
  > "$inst/LoginExeVersionInfo.ini"
cp "$inst/LoginExeVersionInfo.ini" "$state/stored.ini"
kill $proxy_pid; wait $proxy_pid 2>/dev/null || true
: > "$state/proxy.log"
start_proxy --drop
desktop_proxy "$proxy_port"
before=$(grep -c . "$state/requests.log")
expect_refusals() {
  ./Login.exe & pid=$!; pids+=($pid)
  wait_for 600 window_of $pid Login || fail "$1: no message"
  name=$(xdotool getwindowname "$(window_of $pid Login | head -1)")
  [ "$name" = Login ] || fail "$1: the box is named $name"
  cmp -s "$state/stored.ini" "$inst/LoginExeVersionInfo.ini" || fail "$1: the stored record changed"
  ls "$inst" | grep -q -E '\.(new|part|sig)$' && fail "$1: a failed download left a file"
  [ "$(grep -c . "$state/requests.log")" = "$before" ] || fail "$1: a request reached the server"
  dismiss_box $pid Login || fail "$1: the message did not close"
  kill $pid; wait $pid 2>/dev/null || true
}
expect_refusals "a failing proxy"
[ "$(grep -c "\"target\": \"$site/download/LoginExeVersionInfo.ini\"" "$state/proxy.log")" = 10 ] ||
  fail "not ten attempts at the record: $(cat "$state/proxy.log")"
echo "ok: a proxy that fails: ten attempts, the message, the stored record kept"

# 3. A proxy that is not there at all.
kill $proxy_pid; wait $proxy_pid 2>/dev/null || true
expect_refusals "an unreachable proxy"
echo "ok: an unreachable proxy: the message, the stored record kept"
echo "PASS"
