#!/usr/bin/env bash
# Makes the README's pictures under docs/: the window while recording, the list of sessions with
# the column "Архив" (the archive goes to a folder remote in the scratch folder), and the viewer
# with its ruler. Runs the program with the three simulators in a loopback-only namespace on a
# private display, with a scratch home folder.
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
demo=$(mktemp -d /tmp/tresvik-shots-XXXXXX)
source scripts/demo-peers.sh
trap 'demo_stop; rm -rf "$demo"' EXIT
# Small enough to keep in the repository: 1,000 pixels wide, 64 greys and colours.
shot() { sleep 1; import -window root png:- | convert - -resize 1000x -colors 64 "$docs/$1"; echo "docs/$1"; }

demo_camera 25 --lose-packets 5 # the status bar shows the lost packets sent again
demo_odometer --format b --rate 200 --speed 300
demo_coord --change-every 8 --orientation 1
demo_settings="archive_remote=$demo/depot
archive_car=car-07"
demo_program
demo_record
sleep 12
shot window-recording.png
xdotool key F10 Right Down Down Down Return # "Камера" > "Остановить"
sleep 4 # the session closed by the stop reaches the archive
xdotool mousemove 700 140 click 1
xdotool mousemove 1590 581 click --repeat 3 1 mousemove 700 140 # the list's scroll bar: to the column "Архив"
shot session-list.png
xdotool key F10 Right Right Down Down Return # "Обработка" > "Просмотр базы"
sleep 3
xdotool mousemove 500 450 sleep 0.3 mousemove 520 470 click --repeat 2 4
shot viewer.png
xdotool key Escape
sleep 1
demo_quit
wait "$program" || true
