#!/usr/bin/env bash
# Records from the three simulators while the peers misbehave, as on a car: format-B counts in the
# 12.6 million band (where a B packet can hold an A packet), the odometer simulator stopped for a
# few seconds and started again under the same device name, and a coordinate server that accepts
# each connection and closes it. Prints the program's CPU time and log rows, keeps a screenshot,
# and lists the sessions recorded. Runs in a loopback-only namespace on a private display.
#   scripts/peer-faults.sh [--seconds N]   (N: seconds of recording before the odometer stops)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=10
[ "${1:-}" = "--seconds" ] && seconds=${2:?--seconds needs a number}
export LANG=${LANG:-C.UTF-8}

if [ -z "${TRESVIK_INSIDE:-}" ]; then
  make build >/dev/null
  export TRESVIK_INSIDE=1
  exec scripts/isolated.sh scripts/with-display.sh "$0" --seconds "$seconds"
fi

bin=build/bin
demo=$(mktemp -d /tmp/tresvik-peer-faults-XXXXXX)
source scripts/demo-peers.sh
odometer() { demo_odometer --format b --rate 500 --speed 2000 --start "$1"; }
cpu_seconds() { awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$1/stat"; }

demo_camera 25
demo_coord --drop-every 1
odometer 12600000
demo_program
demo_record
sleep "$seconds"
echo "odometer simulator stopped for 4 s"
kill "$odometer_pid"
wait "$odometer_pid" 2>/dev/null || true
sleep 4
odometer 12650000
cpu_before=$(cpu_seconds "$program")
sleep 20
cpu_after=$(cpu_seconds "$program")
import -window root "$demo/peer-faults.png"
log=$(demo_log)
echo "program CPU over the last 20 s (server hanging up on every connection): $(awk "BEGIN { print $cpu_after - $cpu_before }") s"
echo "coordinate server connections: $(grep -c '^dropping' "$demo/coord.log")"
echo "log rows: $(grep -c '^<tr>' "$log"), of them errors: $(grep -c "color='red'" "$log")"
echo "error rows:"
grep "color='red'" "$log" | sed "s/<td> <font color='red'>//; s/<\/font><\/td>//" | sort | uniq -c
echo "screenshot: $demo/peer-faults.png"
demo_quit
demo_sessions
