# Sourced by the scripts that record from the three simulators (scripts/run.sh, bench/soak.sh),
# inside a loopback-only namespace on a display. The caller sets bin (the programs' folder), demo
# (the scratch folder) and the array pids (what its exit trap stops); the functions add to pids.

# demo_peers FPS: the camera at FPS frames a second, the odometer on a pty linked at
# $demo/odometer (accelerating, cruising, stopping, resetting its count, again and again) and the
# coordinate server on port 12500 with a new session every 30 s.
demo_peers() {
  mkdir -p "$demo"
  "$bin/tresvik-camsim" --width 1024 --height 768 --fps "$1" --speed 8 >"$demo/camsim.log" 2>&1 &
  pids+=($!)
  "$bin/tresvik-odometer-sim" --pty --link "$demo/odometer" --format b --rate 200 --speed 200 \
    --profile "accelerate:5s,cruise:40s,stop:3s,reset" --loop >"$demo/odometer.log" 2>&1 &
  pids+=($!)
  "$bin/tresvik-coord-sim" --port 12500 --change-every 30 --orientation 1 >"$demo/coord.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -L "$demo/odometer" ] && break; sleep 0.1; done
}

# demo_program SESSIONS: the program on the home folder $demo/home, whose settings point at the
# peers and record into SESSIONS; its pid is left in program.
demo_program() {
  mkdir -p "$demo/home/Velmora3/config" "$1"
  cat >"$demo/home/Velmora3/config/.tresvik" <<SETTINGS
side=правый
dpp_port=$demo/odometer
write_path=$1
coordinate_server_address=127.0.0.1
coordinate_server_port=12500
SETTINGS
  HOME="$demo/home" "$bin/tresvik" >"$demo/tresvik.log" 2>&1 &
  program=$!
}

# The window, then "Камера" > "Захват и запись" from the keyboard.
demo_record() {
  local window=""
  for _ in $(seq 100); do
    window=$(xdotool search --name "Подвагонные камеры" 2>/dev/null | head -n1) && [ -n "$window" ] && break
    sleep 0.2
  done
  sleep 2
  [ -n "$window" ] && xdotool windowactivate --sync "$window" 2>/dev/null || true
  xdotool key F10 Right Down Down Return
}
