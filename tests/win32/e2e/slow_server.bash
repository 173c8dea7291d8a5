# Shared part of the slow-server checks of Login.exe under Wine (sourced
# after e2e_lib.bash; not a check itself): a download server whose version
# record comes by a rule of the check's, a client folder with a stored
# record, and slow_start, one start against the rule: each attempt at the
# record must end on the launcher's clock, within about 7 s, the ten attempts
# be made, the message follow and the stored record stay as it was.

RULES=$SCRATCH/rules.json
echo '{}' > "$RULES"
python3 "$SRC/standins/server/kvn_server.py" --root "$BUILD/standins/site" --port-file "$SCRATCH/server.port" \
  --log "$SCRATCH/server.log" --rules "$RULES" --port 0 >"$SCRATCH/server.out" 2>&1 &
SERVER_PID=$!
for _ in $(seq 1 100); do [ -s "$SCRATCH/server.port" ] && break; sleep 0.1; done
[ -s "$SCRATCH/server.port" ] || fail "the local server did not start"
export KORVANE_SITE=http://127.0.0.1:$(cat "$SCRATCH/server.port") KORVANE_DOWNLOAD=http://127.0.0.1:$(cat "$SCRATCH/server.port")

reset_machine
CLIENT=$SCRATCH/client
make_launcher_folder "$CLIENT"
printf 'client' > "$CLIENT/Launcher.exe"
printf 'version:120' > "$CLIENT/kvnversion.ini"
printf '[VersionInfo]\r\nLoginExeVersionNumber=1\r\nDlgBackVersionNumber=1\r\nVersionNumber=99\r\n' \
  > "$CLIENT/LoginExeVersionInfo.ini"
cp "$CLIENT/LoginExeVersionInfo.ini" "$SCRATCH/stored-record"

record_requests() { cat "$SCRATCH/server.log" 2>/dev/null | grep -c '"target": "/download/LoginExeVersionInfo.ini"' || true; }

# One start against the rule: the time of each request for the record, as
# the log shows it, until the message; prints each attempt's length.
slow_start() {
  local what=$1 rule=$2 seen count now started longest=0 i ms
  echo "{\"/download/LoginExeVersionInfo.ini\": $rule}" > "$RULES"
  seen=$(record_requests)
  local first=$seen
  local -a at=()
  started=$(date +%s%N)
  start_login "$CLIENT"
  local pid=$LAST_PID
  while ! window_exists Login; do
    count=$(record_requests)
    now=$(date +%s%N)
    while [ "$seen" -lt "$count" ]; do at+=("$now"); seen=$((seen + 1)); done
    [ $(( (now - started) / 1000000000 )) -lt 150 ] || fail "$what: no message within 150 s"
    sleep 0.2
  done
  now=$(date +%s%N)
  echo "$what: the message came $(( (now - started) / 1000000 )) ms after the start"
  [ "$(record_requests)" = $((first + 10)) ] || fail "$what: $(( $(record_requests) - first )) attempts, not ten"
  at+=("$now")
  for ((i = 1; i < ${#at[@]}; i++)); do
    ms=$(( (at[i] - at[i - 1]) / 1000000 ))
    echo "$what: attempt $i lasted about $ms ms"
    [ "$ms" -gt "$longest" ] && longest=$ms
  done
  # Wide of the rule's 7 s, well short of what an unchecked attempt takes.
  [ "$longest" -lt 10000 ] || fail "$what: an attempt lasted $longest ms"
  cmp -s "$SCRATCH/stored-record" "$CLIENT/LoginExeVersionInfo.ini" || fail "$what: the stored record changed"
  ls "$CLIENT" | grep -q -E '\.(new|part|sig)$' && fail "$what: a failed download left a file"
  local box
  box=$(wait_window Login 10) || true
  for _ in $(seq 1 40); do
    window_exists Login || break
    key_to "$box" Return
    sleep 0.5
  done
  window_exists Login && fail "$what: the message did not close"
  local win
  win=$(wait_window 'Korvane安装程序' 60) || fail "$what: no launcher window after the message"
  click_close_button "$win"
  wait_exit "$pid" 60 || fail "$what: the launcher did not close"
  pass "$what: ten attempts, each ended on the clock, the message, the stored record kept"
}

