#!/usr/bin/env bash
# Soak: the real program records from the three simulators (the camera at 30 fps, sessions ending
# on odometer resets and on the coordinate server's changes) while a client fetches the live frame
# from the data service and asks the telemetry responder every few seconds. Prints the program's
# resident memory, open descriptors and threads after a minute of warm-up, every few minutes, and
# at the end, with the change since the warm-up (goal: flat). Runs in a loopback-only namespace on
# a private display; uses the programs of build/bin.
#   bench/soak.sh [--minutes N]   (N: minutes measured after the warm-up, default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=30
[ "${1:-}" = "--minutes" ] && minutes=${2:?--minutes needs a number}
[[ "$minutes" =~ ^[1-9][0-9]*$ ]] || { echo "--minutes takes a whole number above 0" >&2; exit 2; }
export LANG=${LANG:-C.UTF-8}

# Camera discovery broadcasts on every interface: never outside a namespace with loopback alone.
if [ "$(ip -o link show | wc -l)" -ne 1 ]; then
  make build >/dev/null
  exec scripts/isolated.sh scripts/with-display.sh "$0" --minutes "$minutes"
fi
[ -n "${DISPLAY:-}" ] || exec scripts/with-display.sh "$0" --minutes "$minutes"

bin=$PWD/build/bin
demo=$(mktemp -d /tmp/tresvik-soak-XXXXXX)
source scripts/demo-peers.sh
trap 'demo_stop; rm -rf "$demo"' EXIT

demo_peers 30
demo_program
demo_record
for _ in $(seq 150); do [ -n "$(ls -A "$demo/sessions")" ] && break; sleep 0.2; done
[ -n "$(ls -A "$demo/sessions")" ] || { echo "recording did not start" >&2; exit 1; }

# The data service's live frame and the telemetry status, every 5 s, counted in files.
(
  while sleep 5; do
    if "$bin/tresvik-client" fetch CX1 "" 0 "$demo/live.png" --timeout 5 >/dev/null 2>&1; then
      echo >>"$demo/fetched"
    else
      echo >>"$demo/fetch-failed"
    fi
    reply=$("$bin/tresvik-client" status --timeout 2 2>/dev/null || true)
    [[ "$reply" == *работает* ]] && echo >>"$demo/recording" || echo >>"$demo/not-recording"
  done
) &
pids+=($!)

lines() { [ -f "$1" ] && wc -l <"$1" || echo 0; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$program/status"; }
sample() { # label: prints and keeps RSS (kB), descriptors, threads
  kill -0 "$program" 2>/dev/null || { echo "the program ended during the soak" >&2; exit 1; }
  last=("$(rss_kb)" "$(ls "/proc/$program/fd" | wc -l)" "$(ls "/proc/$program/task" | wc -l)")
  printf "%-10s VmRSS %7.1f MB   descriptors %4d   threads %3d   CPU %7.1f s\n" "$1" \
    "$(awk "BEGIN { print ${last[0]} / 1024 }")" "${last[1]}" "${last[2]}" \
    "$(awk '{ print ($14 + $15) / 100 }' "/proc/$program/stat")"
}

echo "recording 1024x768 at 30 fps; warm-up 1 min, then $minutes min measured"
sleep 60
sample "start"
start=("${last[@]}")
every=$(((minutes + 9) / 10))
for ((minute = every; minute < minutes; minute += every)); do
  sleep $((every * 60))
  sample "+$minute min"
done
sleep $(((minutes - (minute - every)) * 60))
sample "end"
awk -v rss="$((last[0] - start[0]))" -v fds="$((last[1] - start[1]))" \
  -v threads="$((last[2] - start[2]))" -v minutes="$minutes" 'BEGIN {
    printf "change over %d min: VmRSS %+.1f MB (%+.2f MB/min), descriptors %+d, threads %+d (goal: flat)\n",
      minutes, rss / 1024, rss / 1024 / minutes, fds, threads }'
echo "data service fetches: $(lines "$demo/fetched") fine, $(lines "$demo/fetch-failed") failed;" \
  "telemetry: recording $(lines "$demo/recording"), not $(lines "$demo/not-recording")"
echo "sessions recorded: $(ls "$demo/sessions" | wc -l), $(du -sm "$demo/sessions" | cut -f1) MB"
log=$(demo_log)
echo "log rows: $(grep -c '^<tr>' "$log"), of them errors: $(grep -c "color='red'" "$log" || true)"

demo_quit
for _ in $(seq 150); do kill -0 "$program" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$program" 2>/dev/null; then
  echo "the program did not end within 30 s of Выход"
  exit 1
fi
echo "the program ended on Выход"
