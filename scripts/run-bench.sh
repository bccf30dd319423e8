#!/usr/bin/env bash
# Runs every benchmark program of the build (build/bin/bench-*), one after the other, so their
# figures are measured on a machine doing nothing else of ours; recording once more beside the
# archive copying at full speed and once from a camera losing packets; then a short soak of the
# real program (bench/soak.sh; the README gives the full 30-minute run).
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=${LANG:-C.UTF-8}
for program in build/bin/bench-*; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program"
done
echo "== bench-record-e2e --archive"
build/bin/bench-record-e2e --archive
echo "== bench-record-e2e --lose-packets 10"
build/bin/bench-record-e2e --lose-packets 10
echo "== soak, 2 minutes"
bench/soak.sh --minutes 2
