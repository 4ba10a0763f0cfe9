#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite,
# once in a plain build and once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh" test
jobs="$(nproc)"

cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$top/build" -j"$jobs"
ctest --test-dir "$top/build" --output-on-failure -j"$jobs"

cmake -S "$top" -B "$top/build-sanitize" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELVO_SANITIZE=ON
cmake --build "$top/build-sanitize" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0" \
    ctest --test-dir "$top/build-sanitize" --output-on-failure -j"$jobs"
