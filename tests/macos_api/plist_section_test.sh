#!/usr/bin/env bash
# Exercises scripts/check_plist_section.py, the macOS build's check of the
# calendar helper's embedded property list, on arm64 Mach-O executables linked
# here with LLVM's Mach-O linker and its -sectcreate, as the macOS build links
# the helper.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
check="$root/scripts/check_plist_section.py"
plist="$root/calendar_helper/Info.plist"
clang=${CLANG:-clang}
linker=$(command -v ld64.lld || ls /usr/bin/ld64.lld-* /usr/lib/llvm-*/bin/ld64.lld 2>/dev/null | sort -V | tail -n 1)
if [ -z "$linker" ]; then
  echo "ld64.lld not found (Debian package lld)" >&2
  exit 1
fi
if [ ! -s "$plist" ]; then
  echo "$plist is missing or empty" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'int start(void) { return 0; }\n' >"$work/start.c"
"$clang" -target arm64-apple-macos26.0 -c "$work/start.c" -o "$work/start.o" || exit 1
link() {  # output [extra linker arguments...]
  local output=$1
  shift
  "$linker" -arch arm64 -platform_version macos 26.0 26.0 -e _start "$@" "$work/start.o" -o "$output"
}
link "$work/embedded" -sectcreate __TEXT __info_plist "$plist" || exit 1
link "$work/bare" || exit 1
{ cat "$plist"; printf ' '; } >"$work/changed.plist"

passed=0
failed=0
expect() {  # expected-status description command...
  local want=$1 what=$2
  shift 2
  "$@" >/dev/null 2>&1
  local got=$?
  if [ "$got" -eq "$want" ]; then
    echo "ok    $what"
    passed=$((passed + 1))
  else
    echo "FAIL  $what: status $got, expected $want"
    failed=$((failed + 1))
  fi
}
expect 0 "the section holds the property list" python3 "$check" "$work/embedded" "$plist"
expect 1 "a file one byte longer differs" python3 "$check" "$work/embedded" "$work/changed.plist"
expect 1 "an executable without the section" python3 "$check" "$work/bare" "$plist"
expect 1 "a file that is not Mach-O" python3 "$check" "$plist" "$plist"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
