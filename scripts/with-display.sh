#!/usr/bin/env bash
# Runs a command against a private Xvfb display with openbox, as an operator's desktop would be:
# the main window maximised and keyboard focus working. The display ends with the command.
set -euo pipefail
display_number=${TRESVIK_DISPLAY:-97}
Xvfb ":$display_number" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $wm_pid $xvfb_pid 2>/dev/null || true' EXIT
export DISPLAY=":$display_number"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
wm_pid=$!
sleep 0.3
"$@"
