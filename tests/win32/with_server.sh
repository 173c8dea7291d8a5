#!/usr/bin/env bash
# Runs a Windows test program under Wine next to the local stand-in server.
# The program finds the server through KVN_HTTP_PORT and the server's
# folder, request log and rules file through KVN_HTTP_ROOT, KVN_HTTP_LOG and
# KVN_HTTP_RULES (Windows paths on Wine's Z: drive); a forward proxy beside
# it through KVN_PROXY_PORT and KVN_PROXY_LOG.
set -eu
SRC=$(cd "$(dirname "$0")/../.." && pwd)
SCRATCH=$(mktemp -d /tmp/kvn-http.XXXXXX)
mkdir -p "$SCRATCH/root"
echo '{}' > "$SCRATCH/rules.json"
python3 "$SRC/standins/server/kvn_server.py" --root "$SCRATCH/root" --port 0 \
  --port-file "$SCRATCH/port" --log "$SCRATCH/log.jsonl" --rules "$SCRATCH/rules.json" \
  >"$SCRATCH/server.out" 2>&1 &
SERVER=$!
# A second one speaks https with a certificate nobody vouches for.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
  -keyout "$SCRATCH/tls.pem" -out "$SCRATCH/cert.pem" >/dev/null 2>&1
cat "$SCRATCH/cert.pem" >> "$SCRATCH/tls.pem"
python3 "$SRC/standins/server/kvn_server.py" --root "$SCRATCH/root" --port 0 \
  --port-file "$SCRATCH/tls-port" --log "$SCRATCH/tls-log.jsonl" --tls "$SCRATCH/tls.pem" \
  >"$SCRATCH/tls-server.out" 2>&1 &
TLS_SERVER=$!
# And a forward proxy, for the system's proxy settings.
python3 "$SRC/standins/server/kvn_proxy.py" --port 0 --port-file "$SCRATCH/proxy-port" \
  --log "$SCRATCH/proxy-log.jsonl" >"$SCRATCH/proxy.out" 2>&1 &
PROXY=$!
trap 'kill $SERVER $TLS_SERVER $PROXY 2>/dev/null || true; rm -rf "$SCRATCH"' EXIT
for f in port tls-port proxy-port; do
  for _ in $(seq 1 100); do [ -s "$SCRATCH/$f" ] && break; sleep 0.1; done
  [ -s "$SCRATCH/$f" ] || { echo "a local server did not start"; cat "$SCRATCH"/*.out; exit 1; }
done
win() { printf 'Z:%s' "$1" | tr / '\\'; }
export KVN_HTTP_PORT=$(cat "$SCRATCH/port") KVN_HTTPS_PORT=$(cat "$SCRATCH/tls-port")
export KVN_HTTPS_LOG=$(win "$SCRATCH/tls-log.jsonl")
export KVN_PROXY_PORT=$(cat "$SCRATCH/proxy-port") KVN_PROXY_LOG=$(win "$SCRATCH/proxy-log.jsonl")
export KVN_HTTP_ROOT=$(win "$SCRATCH/root") KVN_HTTP_LOG=$(win "$SCRATCH/log.jsonl")
export KVN_HTTP_RULES=$(win "$SCRATCH/rules.json")
"$SRC/scripts/wine-run.sh" "$@"
