#!/usr/bin/env bash
# Starts the program.
#   scripts/run.sh                a demonstration without hardware: the camera, odometer and
#                                 coordinate server simulators in a loopback-only network
#                                 namespace, a demo home folder under build/demo (your own
#                                 settings and recordings are never touched), and recording from
#                                 the start. Closing the window ends the simulators; the sessions
#                                 stay in build/demo/sessions and are listed at the next start.
#   scripts/run.sh --seconds N    the same on a private display for N seconds, then a screenshot
#                                 and the program closed through its menu.
#   LIVE=1 scripts/run.sh         the real program on the real network and hardware.
# Without a display a private Xvfb desktop is started; the script prints its number, so that you
# can look at it: import -display :N -window root shot.png
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=${LANG:-C.UTF-8}
seconds=""
[ "${1:-}" = "--seconds" ] && seconds=${2:?--seconds needs a number}

if [ "${LIVE:-0}" = 1 ]; then
  [ -n "${DISPLAY:-}" ] && exec build/bin/tresvik
  exec scripts/with-display.sh build/bin/tresvik
fi
if [ -z "${TRESVIK_DEMO_INSIDE:-}" ]; then
  export TRESVIK_DEMO_INSIDE=1
  if [ -z "${DISPLAY:-}" ] || [ -n "$seconds" ]; then
    exec scripts/isolated.sh scripts/with-display.sh "$0" ${seconds:+--seconds "$seconds"}
  fi
  exec scripts/isolated.sh "$0"
fi

bin=$PWD/build/bin
demo=$PWD/build/demo
mkdir -p "$demo/home/Velmora3/config" "$demo/sessions"
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

"$bin/tresvik-camsim" --width 1024 --height 768 --fps 25 --speed 8 >"$demo/camsim.log" 2>&1 &
pids+=($!)
"$bin/tresvik-odometer-sim" --pty --link "$demo/odometer" --format b --rate 200 --speed 200 \
  --profile "accelerate:5s,cruise:40s,stop:3s,reset" --loop >"$demo/odometer.log" 2>&1 &
pids+=($!)
"$bin/tresvik-coord-sim" --port 12500 --change-every 30 --orientation 1 >"$demo/coord.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -L "$demo/odometer" ] && break; sleep 0.1; done

cat >"$demo/home/Velmora3/config/.tresvik" <<SETTINGS
side=правый
dpp_port=$demo/odometer
write_path=$demo/sessions
coordinate_server_address=127.0.0.1
coordinate_server_port=12500
SETTINGS
HOME="$demo/home" "$bin/tresvik" >"$demo/tresvik.log" 2>&1 &
program=$!
echo "demo folder: $demo"

# The window, then "Камера" > "Захват и запись" from the keyboard.
window=""
for _ in $(seq 100); do
  window=$(xdotool search --name "Подвагонные камеры" 2>/dev/null | head -n1) && [ -n "$window" ] && break
  sleep 0.2
done
sleep 2
[ -n "$window" ] && xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool key F10 Right Down Down Return

if [ -n "$seconds" ]; then
  sleep "$seconds"
  import -window root "$demo/screenshot.png"
  echo "screenshot: $demo/screenshot.png"
  xdotool key F10 Down Down Return # "Файл" > "Выход"
fi
wait "$program" || true
echo "recorded sessions:"
"$bin/tresvik-db" list "$demo/sessions"
