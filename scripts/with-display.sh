#!/usr/bin/env bash
# Runs a command against a private Xvfb display with openbox, as an operator's desktop would be:
# the main window maximised and keyboard focus working. The display ends with the command.
# Xvfb picks a free display number itself, so two runs (tests while the program runs) never share
# one; the number is printed, for screenshots: import -display :N -window root shot.png
set -euo pipefail
number_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
xvfb_pid=$!
wm_pid=
trap 'kill $wm_pid $xvfb_pid 2>/dev/null || true; rm -f "$number_file"' EXIT
for _ in $(seq 100); do [ -s "$number_file" ] && break; sleep 0.05; done
display_number=$(head -n1 "$number_file")
[ -n "$display_number" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display_number"
echo "private display $DISPLAY" >&2
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
wm_pid=$!
sleep 0.3
"$@"
