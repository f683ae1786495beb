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
#      (scripts/debian13.sh)
#   6. the Debian package made from the release build, checked, and installed,
#      run and purged in a clean Debian 12 root (scripts/package-check.sh)
# Both Debian roots are built meanwhile, unless they are cached.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"

# Mostly downloads: they go on while the steps before the roots' use the processors (one after the other: the
# builder takes one root at a time).
root_logs=()
root_builds=()
for suite_list in trixie:trixie.txt bookworm:bookworm-package.txt; do
  root_logs+=("$(mktemp)")
  "$root/scripts/debian-root.sh" build "${suite_list%%:*}" "$root/scripts/roots/${suite_list#*:}" \
    >"${root_logs[-1]}" 2>&1 &
  root_builds+=($!)
done
end_root_builds() {
  for pid in "${root_builds[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" || true; done
  rm -f "${root_logs[@]}"
}
trap end_root_builds EXIT

echo "== fuzzing"
"$root/scripts/fuzz.sh" "${HALVIC_FUZZ_SECONDS:-15}"

echo "== sanitizers"
"$root/scripts/sanitize.sh"

echo "== macOS cross build"
"$root/scripts/macos-cross.sh" "$root/build-macos"

echo "== release build"
"$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j2 --timeout 300

echo "== Debian roots"
status=0
for n in "${!root_builds[@]}"; do
  wait "${root_builds[n]}" || status=$?
  cat "${root_logs[n]}"
done
[ "$status" -eq 0 ] || exit "$status"
"$root/scripts/debian13.sh" "$root/build"

echo "== Debian package"
"$root/scripts/package-check.sh" "$root/build"
