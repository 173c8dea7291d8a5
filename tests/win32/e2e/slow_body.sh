#!/usr/bin/env bash
# Login.exe under Wine against a download server whose body brings one byte
# every 6.5 s: never silent for the receive time-out, so unchecked each
# attempt would last 13 s and more; each ends at the 7 s rule instead.
source "$(dirname "$0")/e2e_lib.bash" "$1" "$2" "$0"
source "$(dirname "$0")/slow_server.bash"
slow_start "a body that trickles" '{"body": "[VersionInfo]\r\nVersionNumber=100\r\n", "drip": 1, "drip_ms": 6500}'
