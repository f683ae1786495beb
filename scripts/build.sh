#!/usr/bin/env bash
# Configures and builds into build/ (or $1), warnings as errors: the release build, which the test command tests
# and the Debian package is made from (scripts/package.sh). So it is built as Debian builds its packages: with the
# prefix /usr and Debian's hardening flags (dpkg-buildflags: fortified libc calls, a strong stack protector,
# read-only relocations bound at start). More cmake arguments follow $1; HALVIC_NINJA_JOBS, when set, limits
# ninja's parallel jobs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
# The build type gives the optimisation and debug information; the debug information keeps the build's own paths.
flags() {
  DEB_BUILD_MAINT_OPTIONS='hardening=+all reproducible=-fixfilepath,-fixdebugpath' DEB_CFLAGS_MAINT_STRIP='-g -O2' \
    DEB_CXXFLAGS_MAINT_STRIP='-g -O2' dpkg-buildflags --get "$1"
}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVIC_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" "$@" >/dev/null
ninja -C "$build" ${HALVIC_NINJA_JOBS:+-j"$HALVIC_NINJA_JOBS"}
