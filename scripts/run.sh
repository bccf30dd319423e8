#!/usr/bin/env bash
# Starts the program. On a development machine it runs in a loopback-only network namespace, so
# camera discovery cannot reach a real network; on a car, `LIVE=1 make run` gives it the real one.
# Without a display it starts its own Xvfb desktop and prints its number (screenshot:
# import -display :N -window root x.png).
set -euo pipefail
cd "$(dirname "$0")/.."
program=(build/bin/tresvik)
if [ -z "${DISPLAY:-}" ]; then
  program=(scripts/with-display.sh "${program[@]}")
fi
if [ "${LIVE:-0}" = 1 ]; then
  exec "${program[@]}"
fi
exec scripts/isolated.sh "${program[@]}"
