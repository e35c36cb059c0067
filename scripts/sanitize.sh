#!/bin/sh
# Builds the test suite with AddressSanitizer and UndefinedBehaviorSanitizer and runs it.
set -eu
cd "$(dirname "$0")/.."

# Full stacks, so that the suppressions can tell Qt's own leaks from ours.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0"
LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"
export LSAN_OPTIONS
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
BUILD_DIR=build-sanitize sh scripts/test.sh -DCORVANTIS_SANITIZE=ON -DCORVANTIS_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=Debug -DCORVANTIS_WERROR=ON
