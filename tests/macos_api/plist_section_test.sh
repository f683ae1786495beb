#!/usr/bin/env bash
# Exercises scripts/check_plist_section.py, the macOS build's check of the
# calendar helper's embedded property list, on arm64 Mach-O executables linked
# here with LLVM's Mach-O linker and its -sectcreate, as the macOS build links
# the helper.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
plist="$root/calendar_helper/Info.plist"
linker=$(command -v ld64.lld || ls /usr/bin/ld64.lld-* /usr/lib/llvm-*/bin/ld64.lld 2>/dev/null | sort -V | tail -n 1)
[ -n "$linker" ] || { echo "ld64.lld not found (Debian package lld)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'int start(void) { return 0; }\n' | "${CLANG:-clang}" -target arm64-apple-macos26.0 -x c -c - -o "$work/start.o" || exit 1
for name in embedded bare; do
  extra=()
  [ "$name" = bare ] || extra=(-sectcreate __TEXT __info_plist "$plist")
  "$linker" -arch arm64 -platform_version macos 26.0 26.0 -e _start "${extra[@]}" "$work/start.o" -o "$work/$name" || exit 1
done
{ cat "$plist"; printf ' '; } >"$work/changed.plist"

failed=0
# expected status | executable | property list | case
while IFS='|' read -r want executable list what; do
  python3 "$root/scripts/check_plist_section.py" "$executable" "$list" >/dev/null 2>&1
  got=$?
  if [ "$got" -ne "$want" ]; then
    echo "FAIL  $what: status $got, expected $want"
    failed=1
  fi
done <<EOF
0|$work/embedded|$plist|the section holds the property list
1|$work/embedded|$work/changed.plist|a file one byte longer differs
1|$work/bare|$plist|an executable without the section
1|$plist|$plist|a file that is not Mach-O
EOF
exit "$failed"
