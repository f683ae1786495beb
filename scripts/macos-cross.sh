#!/usr/bin/env bash
# The macOS build, cross-compiled and linked on Linux: configures the project
# as on a Mac (cmake/macos-arm64-clang19.cmake: Debian's clang-19 and
# ld64.lld-19, arm64-apple-macos26.0, a macOS SDK as sysroot), builds and
# links both helpers and the unit tests with the project's warnings as errors,
# installs the helpers into <build-dir>/install/bin, checks what was linked
# (tests/macos_api/check_linked.py: load commands, libraries, symbols, code
# signature, property list) and that the check catches mistakes planted in
# the link (tests/macos_api/link_plants.py), then plants mistakes in the
# Objective-C++ backends that this build must reject
# (tests/macos_api/mutations.sh). The unit tests cannot run here; ctest
# lists and runs them on a Mac.
#   scripts/macos-cross.sh [build-dir] [cmake arguments, e.g. -DHALVIC_MACOS_SDK=<sdk>]
# The SDK is ../shared/macos-sdk beside the project unless HALVIC_MACOS_SDK (in
# the environment or on the command line) names another; without one the
# check fails, saying so: it is never skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-macos}
shift || true
started=$SECONDS

# No optimisation unless the arguments ask for it (-DCMAKE_BUILD_TYPE=Release
# for executables to ship): clang's diagnostics come from its front end and do
# not depend on it, and the build takes a third less time.
sdk_choice=()
[ -z "${HALVIC_MACOS_SDK:-}" ] || sdk_choice=(-DHALVIC_MACOS_SDK="$HALVIC_MACOS_SDK")
if [ ${#sdk_choice[@]} -eq 0 ] && [ ! -d "$root/../shared/macos-sdk/usr/include" ] && ! printf '%s\n' "$@" | grep -q '^-DHALVIC_MACOS_SDK='; then
  echo "macOS cross build: no macOS SDK at $root/../shared/macos-sdk; set HALVIC_MACOS_SDK to one" >&2
  exit 1
fi
cmake -S "$root" -B "$build" -G Ninja --toolchain "$root/cmake/macos-arm64-clang19.cmake" \
  -DCMAKE_BUILD_TYPE= -DHALVIC_WERROR=ON "${sdk_choice[@]}" "$@" >/dev/null
sdk=$(sed -n 's/^HALVIC_MACOS_SDK:PATH=//p' "$build/CMakeCache.txt")

ninja -C "$build" -j2
cmake --install "$build" --prefix "$build/install" >/dev/null

# Every executable the build links: the two helpers and the unit tests.
mapfile -t rules < <(ninja -C "$build" -t rules | grep -E '^(C|CXX|OBJCXX)_EXECUTABLE_LINKER__')
mapfile -t tests < <(for rule in "${rules[@]}"; do ninja -C "$build" -t targets rule "$rule"; done |
  grep -v -E '(^|/)halvic_(screen|calendar)_helper$' | sed "s|^|$build/|")
echo "macOS cross build: both helpers and ${#tests[@]} unit-test executables linked for arm64-apple-macos26.0" \
  "against $sdk, warnings as errors; the helpers installed in $build/install/bin"
python3 "$root/tests/macos_api/check_linked.py" \
  "$build/install/bin/halvic_screen_helper" "$build/install/bin/halvic_calendar_helper" "${tests[@]}"
python3 "$root/tests/macos_api/link_plants.py" "$build"

"$root/tests/macos_api/mutations.sh" "$build"
echo "macOS cross build: done in $((SECONDS - started)) s"
