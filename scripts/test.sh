#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine: installs what it needs,
# builds, and runs every test. The end-to-end tests start their own Xvfb,
# window manager, D-Bus session and Evolution Data Server.
#   1. short libFuzzer runs over the committed corpora (scripts/fuzz.sh)
#   2. every test under AddressSanitizer + UndefinedBehaviorSanitizer (scripts/sanitize.sh)
#   3. the macOS build cross-compiled and linked against Apple's SDK, and the
#      linked executables checked (scripts/macos-cross.sh)
#   4. every test in the release build, warnings as errors, including the
#      runs of both helpers under valgrind
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"

echo "== fuzzing"
"$root/scripts/fuzz.sh" "${HALVIC_FUZZ_SECONDS:-15}"

echo "== sanitizers"
"$root/scripts/sanitize.sh"

echo "== macOS cross build"
"$root/scripts/macos-cross.sh" "$root/build-macos"

echo "== release build"
"$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j2 --timeout 300
