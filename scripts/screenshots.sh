#!/usr/bin/env bash
# Makes the README's pictures under docs/: the window while recording, the list of sessions, and
# the viewer with its ruler. Runs the program with the three simulators in a loopback-only
# namespace on a private display, with a scratch home folder.
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=${LANG:-C.UTF-8}
if [ -z "${TRESVIK_SHOTS_INSIDE:-}" ]; then
  make build >/dev/null
  export TRESVIK_SHOTS_INSIDE=1
  exec scripts/isolated.sh scripts/with-display.sh "$0"
fi

bin=$PWD/build/bin
docs=$PWD/docs
work=$(mktemp -d /tmp/tresvik-shots-XXXXXX)
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
# Small enough to keep in the repository: 1,000 pixels wide, 64 greys and colours.
shot() { sleep 1; import -window root png:- | convert - -resize 1000x -colors 64 "$docs/$1"; echo "docs/$1"; }

"$bin/tresvik-camsim" --width 1024 --height 768 --fps 25 --speed 8 >/dev/null 2>&1 &
pids+=($!)
"$bin/tresvik-odometer-sim" --pty --link "$work/odometer" --format b --rate 200 --speed 300 >/dev/null 2>&1 &
pids+=($!)
"$bin/tresvik-coord-sim" --port 12500 --change-every 8 --orientation 1 >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -L "$work/odometer" ] && break; sleep 0.1; done
mkdir -p "$work/home/Velmora3/config" "$work/sessions"
printf 'side=правый\ndpp_port=%s\nwrite_path=%s\n' "$work/odometer" "$work/sessions" \
  >"$work/home/Velmora3/config/.tresvik"
HOME="$work/home" "$bin/tresvik" >/dev/null 2>&1 &
program=$!
pids+=("$program")
for _ in $(seq 100); do xdotool search --name "Подвагонные камеры" >/dev/null 2>&1 && break; sleep 0.2; done
sleep 3
xdotool key F10 Right Down Down Return # "Камера" > "Захват и запись"
sleep 12
shot window-recording.png
xdotool key F10 Right Down Down Down Return # "Камера" > "Остановить"
sleep 2
xdotool mousemove 700 140 click 1
shot session-list.png
xdotool key F10 Right Right Down Down Return # "Обработка" > "Просмотр базы"
sleep 3
xdotool mousemove 500 450 sleep 0.3 mousemove 520 470 click --repeat 2 4
shot viewer.png
xdotool key Escape
sleep 1
xdotool key F10 Down Down Return # "Файл" > "Выход"
wait "$program" || true
