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
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
odometer() {
  "$bin/tresvik-odometer-sim" --pty --link "$demo/odometer" --format b --rate 500 --speed 2000 \
    --start "$1" >>"$demo/odometer.log" 2>&1 &
  odometer_pid=$!
  for _ in $(seq 50); do [ -L "$demo/odometer" ] && break; sleep 0.1; done
}
cpu_seconds() { awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$1/stat"; }

"$bin/tresvik-camsim" --width 1024 --height 768 --fps 25 --speed 8 >"$demo/camsim.log" 2>&1 &
pids+=($!)
"$bin/tresvik-coord-sim" --port 12500 --drop-every 1 >"$demo/coord.log" 2>&1 &
pids+=($!)
odometer 12600000

mkdir -p "$demo/home/Velmora3/config" "$demo/home/sessions"
cat >"$demo/home/Velmora3/config/.tresvik" <<SETTINGS
side=правый
dpp_port=$demo/odometer
write_path=$demo/home/sessions
SETTINGS
HOME="$demo/home" "$bin/tresvik" >"$demo/tresvik.log" 2>&1 &
program=$!
pids+=("$program")
for _ in $(seq 100); do xdotool search --name "Подвагонные камеры" >/dev/null 2>&1 && break; sleep 0.2; done
sleep 4
xdotool key F10 Right Down Down Return # "Камера" > "Захват и запись"
sleep "$seconds"
echo "odometer simulator stopped for 4 s"
kill "$odometer_pid"
wait "$odometer_pid" 2>/dev/null || true
sleep 4
odometer 12650000
pids+=("$odometer_pid")
cpu_before=$(cpu_seconds "$program")
sleep 20
cpu_after=$(cpu_seconds "$program")
import -window root "$demo/peer-faults.png"
log=$(ls "$demo"/home/Velmora3/log/tresvik*.html)
echo "program CPU over the last 20 s (server hanging up on every connection): $(awk "BEGIN { print $cpu_after - $cpu_before }") s"
echo "coordinate server connections: $(grep -c '^dropping' "$demo/coord.log")"
echo "log rows: $(grep -c '^<tr>' "$log"), of them errors: $(grep -c "color='red'" "$log")"
echo "error rows:"
grep "color='red'" "$log" | sed "s/<td> <font color='red'>//; s/<\/font><\/td>//" | sort | uniq -c
echo "screenshot: $demo/peer-faults.png"
xdotool key F10 Down Down Return # "Файл" > "Выход"
wait "$program" || true
echo "recorded sessions:"
"$bin/tresvik-db" list "$demo/home/sessions"
