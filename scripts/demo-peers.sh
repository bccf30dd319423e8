# Sourced by the scripts that record from the three simulators (scripts/run.sh,
# scripts/screenshots.sh, scripts/peer-faults.sh, bench/soak.sh), inside a loopback-only namespace
# on a display. The caller sets bin (the programs' folder) and demo (the scratch folder). What the
# functions start, and whatever the caller adds to pids, is stopped when the caller exits.
pids=()
demo_stop() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap demo_stop EXIT

# demo_camera FPS [OPTIONS...]: the camera at FPS frames a second, its scene moving 8 pixels a
# frame, with more of tresvik-camsim's options.
demo_camera() {
  mkdir -p "$demo"
  "$bin/tresvik-camsim" --width 1024 --height 768 --fps "$1" --speed 8 "${@:2}" >>"$demo/camsim.log" 2>&1 &
  pids+=($!)
}

# demo_odometer OPTIONS...: the odometer on a pty linked at $demo/odometer (the same name when it
# is started again); its pid is left in odometer_pid.
demo_odometer() {
  "$bin/tresvik-odometer-sim" --pty --link "$demo/odometer" "$@" >>"$demo/odometer.log" 2>&1 &
  odometer_pid=$! && pids+=("$odometer_pid")
  for _ in $(seq 50); do [ -L "$demo/odometer" ] && break; sleep 0.1; done
}

# demo_coord OPTIONS...: the coordinate server on port 12500, where the program looks by default.
demo_coord() { "$bin/tresvik-coord-sim" --port 12500 "$@" >>"$demo/coord.log" 2>&1 & pids+=($!); }

# demo_peers FPS: the camera, the odometer accelerating, cruising, stopping and resetting its count
# again and again, and the coordinate server with a new session every 30 s.
demo_peers() {
  demo_camera "$1"
  demo_odometer --format b --rate 200 --speed 200 --loop \
    --profile "accelerate:5s,cruise:40s,stop:3s,reset"
  demo_coord --change-every 30 --orientation 1
}

# demo_program: the program on the home folder $demo/home, whose settings point at the peers and
# record into $demo/sessions, with the lines of demo_settings added when the caller sets it; its
# pid is left in program.
demo_program() {
  mkdir -p "$demo/home/Velmora3/config" "$demo/sessions"
  cat >"$demo/home/Velmora3/config/.tresvik" <<SETTINGS
side=правый
dpp_port=$demo/odometer
write_path=$demo/sessions
SETTINGS
  if [ -n "${demo_settings:-}" ]; then printf '%s\n' "$demo_settings" >>"$demo/home/Velmora3/config/.tresvik"; fi
  HOME="$demo/home" "$bin/tresvik" >"$demo/tresvik.log" 2>&1 &
  program=$!
  pids+=("$program")
}

# Waits for the program to end, then lists the sessions it recorded.
demo_sessions() { wait "$program" || true; echo "recorded sessions:"; "$bin/tresvik-db" list "$demo/sessions"; }

# This run's log file of the program.
demo_log() { ls "$demo"/home/Velmora3/log/tresvik*.html; }

# The window, then "Камера" > "Захват и запись" from the keyboard.
demo_record() {
  local window=""
  for _ in $(seq 100); do
    window=$(xdotool search --name "Подвагонные камеры" 2>/dev/null | head -n1) && [ -n "$window" ] && break
    sleep 0.2
  done
  # The window shows before the camera is found; the capture commands wait for it.
  for _ in $(seq 100); do
    grep -qs "Active camera selected" "$(ls -t "$demo"/home/Velmora3/log/tresvik*.html 2>/dev/null | head -n1)" && break
    sleep 0.2
  done
  sleep 1
  [ -n "$window" ] && xdotool windowactivate --sync "$window" 2>/dev/null || true
  xdotool key F10 Right Down Down Return
}

# "Файл" > "Выход".
demo_quit() { xdotool key F10 Down Down Return; }
