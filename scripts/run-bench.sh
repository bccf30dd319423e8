#!/usr/bin/env bash
# Runs every benchmark program of the build (build/bin/bench-*), one after the other, so their
# figures are measured on a machine doing nothing else of ours.
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=${LANG:-C.UTF-8}
for program in build/bin/bench-*; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program"
done
