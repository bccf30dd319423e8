#!/usr/bin/env bash
# Records a simulated run: starts the camera, odometer and coordinate server simulators and the
# program, all in a loopback-only network namespace, with a demo home folder whose settings point
# the program at the simulators, then chooses "Захват и запись". With a display the window stays
# until you close it; without one (or with --seconds N) the run lasts N seconds on a private Xvfb
# desktop, a screenshot is kept, and the program is closed through its menu. The recorded
# sessions are listed with tresvik-db at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=""
[ "${1:-}" = "--seconds" ] && seconds=${2:?--seconds needs a number}
export LANG=${LANG:-C.UTF-8}

if [ -z "${TRESVIK_TRY_IT_INSIDE:-}" ]; then
  make build >/dev/null
  export TRESVIK_TRY_IT_INSIDE=1
  if [ -z "${DISPLAY:-}" ] || [ -n "$seconds" ]; then
    exec scripts/isolated.sh scripts/with-display.sh "$0" --seconds "${seconds:-60}"
  fi
  exec scripts/isolated.sh "$0"
fi

bin=build/bin
demo=$(mktemp -d /tmp/tresvik-try-it-XXXXXX)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

"$bin/tresvik-camsim" --width 1024 --height 768 --fps 25 --speed 8 >"$demo/camsim.log" 2>&1 &
pids+=($!)
"$bin/tresvik-odometer-sim" --pty --format b --rate 200 --speed 200 \
  --profile "accelerate:5s,cruise:20s,stop:3s,reset,cruise" >"$demo/odometer.log" 2>&1 &
pids+=($!)
"$bin/tresvik-coord-sim" --port 12500 --change-every 20 --orientation 1 >"$demo/coord.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q "odometer on" "$demo/odometer.log" && break; sleep 0.1; done
port=$(sed -n 's/^odometer on //p' "$demo/odometer.log")

mkdir -p "$demo/home/Velmora3/config" "$demo/home/sessions"
cat >"$demo/home/Velmora3/config/.tresvik" <<SETTINGS
side=правый
dpp_port=$port
write_path=$demo/home/sessions
coordinate_server_address=127.0.0.1
coordinate_server_port=12500
SETTINGS
sleep 2
HOME="$demo/home" "$bin/tresvik" >"$demo/tresvik.log" 2>&1 &
program=$!
echo "demo folder: $demo (odometer on $port)"

# Wait for the window, then "Камера" > "Захват и запись" from the keyboard.
for _ in $(seq 100); do xdotool search --name "Подвагонные камеры" >/dev/null 2>&1 && break; sleep 0.2; done
sleep 4
xdotool key F10 Right Down Down Return

if [ -n "$seconds" ]; then
  sleep "$seconds"
  import -window root "$demo/recording.png"
  echo "screenshot: $demo/recording.png"
  xdotool key F10 Down Down Return # "Файл" > "Выход"
fi
wait "$program" || true
echo "recorded sessions:"
"$bin/tresvik-db" list "$demo/home/sessions"
