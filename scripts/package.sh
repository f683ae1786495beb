#!/usr/bin/env bash
# Makes the Debian package halvic-desktop-helpers_<version>_<arch>.deb from the release build in build/ (or $1),
# which it builds first (scripts/build.sh), with CPack's DEB generator and the project's install rules; prints the
# package's path. A host installs it with `sudo apt-get install ./halvic-desktop-helpers_<version>_<arch>.deb`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
"$root/scripts/build.sh" "$build" >&2
out=$build/package
rm -rf "$out/_CPack_Packages"
rm -f "$out"/*.deb
# cpack reports on stdout; only the package's path goes there.
(cd "$build" && cpack -G DEB -B "$out" >&2)
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package.sh: cpack made no single package in $out" >&2; exit 1; }
echo "${debs[0]}"
