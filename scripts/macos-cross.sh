#!/usr/bin/env bash
# The macOS build, cross-compiled on Linux: configures the project as on a Mac
# (cmake/macos-arm64-clang19.cmake: Debian's clang-19, arm64-apple-macos26.0,
# a macOS SDK as sysroot), builds every object and static library of the two
# helpers and of the unit tests with the project's warnings as errors, then
# plants mistakes in the Objective-C++ backends that this build must reject
# (tests/macos_api/mutations.sh). Nothing is linked: the SDK copy holds no
# libSystem or libc++ to link executables against; a Mac links them.
#   scripts/macos-cross.sh [build-dir] [cmake arguments, e.g. -DHALVIC_MACOS_SDK=<sdk>]
# The SDK is ../shared/macos-sdk beside the project unless HALVIC_MACOS_SDK (in
# the environment or on the command line) names another; without one the
# check fails, saying so: it is never skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-macos}
shift || true
started=$SECONDS

# No optimisation: clang's diagnostics come from its front end and do not
# depend on it, and the build takes a third less time.
sdk_choice=()
[ -z "${HALVIC_MACOS_SDK:-}" ] || sdk_choice=(-DHALVIC_MACOS_SDK="$HALVIC_MACOS_SDK")
if [ ${#sdk_choice[@]} -eq 0 ] && [ ! -d "$root/../shared/macos-sdk/usr/include" ] && ! printf '%s\n' "$@" | grep -q '^-DHALVIC_MACOS_SDK='; then
  echo "macOS cross build: no macOS SDK at $root/../shared/macos-sdk; set HALVIC_MACOS_SDK to one" >&2
  exit 1
fi
cmake -S "$root" -B "$build" -G Ninja --toolchain "$root/cmake/macos-arm64-clang19.cmake" \
  -DCMAKE_BUILD_TYPE= -DHALVIC_WERROR=ON "${sdk_choice[@]}" "$@" >/dev/null
sdk=$(sed -n 's/^HALVIC_MACOS_SDK:PATH=//p' "$build/CMakeCache.txt")

# Every compile and archive step CMake wrote, and no link step.
mapfile -t rules < <(ninja -C "$build" -t rules | grep -E '^(C|CXX|OBJCXX)_(COMPILER|STATIC_LIBRARY_LINKER)__')
mapfile -t outputs < <(for rule in "${rules[@]}"; do ninja -C "$build" -t targets rule "$rule"; done)
ninja -C "$build" -j2 "${outputs[@]}"

objects=$(printf '%s\n' "${outputs[@]}" | grep -c '\.o$')
libraries=$(printf '%s\n' "${outputs[@]}" | grep -c '\.a$')
echo "macOS cross build: $objects translation units compiled and $libraries static libraries archived" \
  "for arm64-apple-macos26.0 against $sdk, warnings as errors"
echo "macOS cross build: executables not linked (the SDK has no libSystem or libc++ to link against)"

"$root/tests/macos_api/mutations.sh" "$build"
echo "macOS cross build: done in $((SECONDS - started)) s"
