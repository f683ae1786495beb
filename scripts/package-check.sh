#!/usr/bin/env bash
# The Debian package, made and checked (tests/package/check_package.py judges and prints each case):
#   1. made from the release build in build/ (or $1) by scripts/package.sh
#   2. its contents: exactly what the install rules install with the prefix /usr, the installed paths in the files
#      the install writes, nothing of the build's or the staging folder's paths
#   3. lintian: no errors (its whole report, informational tags included, is printed)
#   4. in a clean Debian 12 root (scripts/debian-root.sh; scripts/roots/bookworm-package.txt, to which the
#      package's dependencies are added for download): apt-get install ./<deb>; both helpers from their installed
#      paths with nothing but the package, then an X11 capture on Xvfb and the calendar on a private Evolution Data
#      Server, installed after the package (tests/package/in_root.sh run)
#   5. in another fresh copy of that root: the package's dependencies, then apt-get install ./<deb> and apt-get
#      purge, after which the root's files and packages are those it had before the install (in_root.sh purge).
#      With the dependencies installed first, what is left is the package's: purging its dependencies too
#      (--autoremove) leaves files of theirs (systemd's and D-Bus's users, sensible-utils...).
#   scripts/package-check.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
check="$root/tests/package/check_package.py"
deb=$("$root/scripts/package.sh" "$build")
work=$build/package/check
rm -rf "$work"
mkdir -p "$work"

echo "== the package: $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
DESTDIR="$work/staged" cmake --install "$build" >/dev/null
status=0
python3 "$check" contents "$deb" "$work/staged" "$build/install_manifest.txt" "$build" || status=1

echo "== lintian"
# Lintian advises against running as root: as nobody then, on a copy it can read wherever the clone is.
lintian=(lintian --display-info --display-experimental --pedantic --fail-on error)
lintian_status=0
if [ "$(id -u)" -eq 0 ]; then
  copy=$(mktemp -d)
  chmod 755 "$copy"
  cp "$deb" "$copy/"
  setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/nonexistent \
    "${lintian[@]}" "$copy/$(basename "$deb")" || lintian_status=1
  rm -rf "$copy"
else
  "${lintian[@]}" "$deb" || lintian_status=1
fi
if [ "$lintian_status" -eq 0 ]; then echo "pass lintian: no errors"; else echo "FAIL lintian: errors above"; status=1; fi

echo "== in a clean Debian 12 root"
{
  cat "$root/scripts/roots/bookworm-package.txt"
  echo "# the package's dependencies, and their alternatives"
  dpkg-deb --field "$deb" Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/\s//g'
} >"$work/root-packages.txt"
in_root() {  # mode: each run in a fresh copy of the root
  mkdir "$work/root-$1"
  "$root/scripts/debian-root.sh" run bookworm "$work/root-packages.txt" --bind "$root" --bind "$build/package" \
    -- bash "$root/tests/package/in_root.sh" "$1" "$deb" "$work/root-$1"
}
in_root run || status=1
python3 "$check" root-run "$work/root-run" || status=1
in_root purge || status=1
python3 "$check" purge "$work/root-purge" || status=1
exit "$status"
