#!/usr/bin/env bash
# Compiles the macOS backends (every .mm file of the tree, or the files given)
# as Objective-C++ against the declaration headers beside this script, which
# declare exactly the Apple API the backends use. Runs on any host with clang:
# a misspelt selector, a wrong argument type or a missing import fails here
# before it can fail on a Mac.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
clang=${CLANG:-clang}

# As the Apple toolchain compiles them for arm64 macOS: ARC, blocks, Objective-C
# exceptions and the Apple runtime's rules, warnings as errors.
flags=(-x objective-c++ -std=c++20 -fsyntax-only
  -fobjc-arc -fblocks -fobjc-exceptions -fobjc-runtime=macosx-26.0
  -Werror -Wall -Wextra -Wpedantic
  -isystem "$here" -I"$root/common" -I"$root/screen_helper" -I"$root/calendar_helper")

if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(find "$root" -name '*.mm' -not -path "$root/build*" -not -path '*/.git/*' | sort)
  if [ ${#files[@]} -eq 0 ]; then
    echo "no .mm files found under $root" >&2
    exit 1
  fi
fi

passed=0
failed=0
for file in "${files[@]}"; do
  if "$clang" "${flags[@]}" "$file"; then
    echo "ok    ${file#"$root"/}"
    passed=$((passed + 1))
  else
    echo "FAIL  ${file#"$root"/}"
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
