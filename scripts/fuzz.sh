#!/usr/bin/env bash
# Runs every fuzz target of build-fuzz for the given number of seconds each (default 60), one
# after the other. Each grows its own working corpus in build-fuzz/corpus/<target> from the seeds in
# fuzz/corpus/<target>; an input that breaks a target is saved under build-fuzz/findings/ and the
# run ends with status 1. Copy such an input into fuzz/corpus/<target>/ once it is mended, so the
# test suite's replay keeps trying it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
status=0
mkdir -p build-fuzz/findings
for program in build-fuzz/bin/fuzz-*; do
  target=${program##*/fuzz-}
  work=build-fuzz/corpus/$target
  mkdir -p "$work"
  echo "== $target: $seconds s"
  if ! "$program" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix="build-fuzz/findings/$target-" "$work" "fuzz/corpus/$target" \
      2>build-fuzz/"$target".log; then
    echo "   FOUND: see build-fuzz/$target.log and build-fuzz/findings/"
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|cov: ' build-fuzz/"$target".log | tail -n 3 | sed 's/^/   /'
done
exit $status
