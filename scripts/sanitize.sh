#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-san/ and runs the whole test suite there, end-to-end tests included.
#   scripts/sanitize.sh [ctest arguments, e.g. -R screen]
# Every report stops the process that made it with a non-zero status, and the
# helpers started by the end-to-end tests inherit the same settings, so a
# report anywhere fails the test that caused it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-san

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHALVIC_SANITIZE=ON >/dev/null
ninja -C "$build" -j2

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# tests/lsan.supp, when present, names one-time allocations inside system
# libraries that they never free, or that the helpers abandon on purpose.
if [ -f "$root/tests/lsan.supp" ]; then
  export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
fi
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 "$@"
