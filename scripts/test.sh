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
#   5. in a Debian 13 root: the desktops' suites on their newest versions, and
#      the project's build and unit tests with Debian 13's compilers
#      (scripts/debian13.sh); the root is built meanwhile, unless it is cached
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"

# Mostly a download: it goes on while the steps before the root's use the processors.
root_log=$(mktemp)
"$root/scripts/debian-root.sh" build trixie "$root/scripts/roots/trixie.txt" >"$root_log" 2>&1 &
root_build=$!
trap 'kill "$root_build" 2>/dev/null && wait "$root_build"; rm -f "$root_log"' EXIT

echo "== fuzzing"
"$root/scripts/fuzz.sh" "${HALVIC_FUZZ_SECONDS:-15}"

echo "== sanitizers"
"$root/scripts/sanitize.sh"

echo "== macOS cross build"
"$root/scripts/macos-cross.sh" "$root/build-macos"

echo "== release build"
"$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j2 --timeout 300

echo "== Debian 13 root"
status=0
wait "$root_build" || status=$?
cat "$root_log"
[ "$status" -eq 0 ] || exit "$status"
"$root/scripts/debian13.sh" "$root/build"
