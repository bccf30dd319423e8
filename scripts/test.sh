#!/usr/bin/env bash
# The whole test run: install, build with AddressSanitizer + UndefinedBehaviorSanitizer, build the
# threaded tests with ThreadSanitizer, then run every test inside a loopback-only network
# namespace and under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
jobs=$(nproc)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTRESVIK_SANITIZE=address >/dev/null
cmake --build build-asan -j"$jobs"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTRESVIK_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target threaded_tests

scripts/isolated.sh scripts/with-display.sh scripts/run-ctest.sh
