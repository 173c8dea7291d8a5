#!/usr/bin/env bash
# Login.exe under Wine against a download server whose answer's head
# trickles: the status line, then one byte every 2 s. Unchecked, the head
# would hold each attempt for minutes; each ends at the 7 s rule instead.
source "$(dirname "$0")/e2e_lib.bash" "$1" "$2" "$0"
source "$(dirname "$0")/slow_server.bash"
slow_start "a head that trickles" '{"head_drip_ms": 2000}'
