#!/usr/bin/env bash
# Inside the namespace and the display: every test under ASan/UBSan, then the threaded ones
# under TSan.
set -euo pipefail
root=$(pwd)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"
export NO_AT_BRIDGE=1
status=0
(cd build-asan && ctest --output-on-failure -j2 --timeout 300) || status=1
(cd build-tsan && ctest --output-on-failure -j2 --timeout 300 -L threaded) || status=1
exit $status
