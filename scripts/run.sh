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
source scripts/demo-peers.sh
demo_peers 25
demo_program
echo "demo folder: $demo"
demo_record

if [ -n "$seconds" ]; then
  sleep "$seconds"
  import -window root "$demo/screenshot.png"
  echo "screenshot: $demo/screenshot.png"
  demo_quit
fi
demo_sessions
