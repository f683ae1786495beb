#!/usr/bin/env bash
# The tests in a Debian 13 root (scripts/debian-root.sh with scripts/roots/trixie.txt), where the newest desktops
# and compilers are:
#   1. the end-to-end suites of the desktops, run by this machine's build (the programs built on Debian 12 run
#      there unchanged), each in a fresh copy of the root with one session of its desktop: sway 1.10
#      (tests/wayland), GNOME Shell 48 with our extension's module entry (tests/gnome), and KWin 6 (tests/kwin;
#      without OpenGL KWin 6 offers no window captures, so there its cases check the window list and the choice of
#      window, and those about pixels are skipped)
#   2. the project built there with Debian 13's GCC and libraries, warnings as errors, and its unit tests
#   (before the sway suite, which runs last and up to three times: see there)
#   scripts/debian13.sh [build-dir]     (default build/, built by scripts/build.sh unless it is there)
# Each step runs in a fresh copy of the root with the clone bound at the same path, so the build's absolute paths
# hold inside; Debian 13's build goes to build-debian13/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(readlink -f "${1:-$root/build}")
suites=("$build/tests/wayland/wayland_tests" "$build/tests/gnome/gnome_tests" "$build/tests/kwin/kwin_tests")
for suite in "${suites[@]}"; do [ -x "$suite" ] || { "$root/scripts/build.sh" "$build"; break; }; done
in_root() { "$root/scripts/debian-root.sh" run trixie "$root/scripts/roots/trixie.txt" --bind "$root" --bind "$build" "$@"; }

echo "== Debian 13: the GNOME suite"
in_root -- "$build/tests/gnome/gnome_tests" --gtest_brief=1

echo "== Debian 13: the KWin suite"
in_root -- "$build/tests/kwin/kwin_tests" --gtest_brief=1

echo "== Debian 13: the build and the unit tests"
# The machine's build's optimisation (-O2), on which warnings depend, without the debug information, which would
# only cost a quarter more time here. macos_api_plist_section_test checks the macOS build's tools with clang and
# lld, which the root leaves out.
in_root --cwd "$root" -- bash -c '
  set -e
  echo "gcc $(gcc -dumpfullversion), EDS $(pkg-config --modversion libecal-2.0)"
  cmake -S . -B build-debian13 -G Ninja -DHALVIC_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
  ninja -C build-debian13 -j2
  ctest --test-dir build-debian13 -L unit -E macos_api_plist_section_test --output-on-failure -j2 --timeout 300'

# Last, and up to three times: sway 1.10 here now and then never maps an Xwayland window that its X client saw
# mapped (its log: the window's surface paired, no picture ever committed to it). It failed 14 of 34 runs that
# followed other work on the machine (this machine's own X11 or sway suite), 1 of 19 that followed a run of this
# suite; cause not found. A failing run prints sway's whole tree; a steady fault of ours fails every run.
echo "== Debian 13: the sway suite"
for attempt in 1 2 3; do
  in_root -- bash -c 'sway --version && exec "$0" --gtest_brief=1' "$build/tests/wayland/wayland_tests" && break
  [ "$attempt" -lt 3 ] || exit 1
  echo "== Debian 13: the sway suite failed; again in a fresh root"
done
