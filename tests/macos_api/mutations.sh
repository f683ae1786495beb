#!/usr/bin/env bash
# Shows that the macOS cross build (scripts/macos-cross.sh) rejects the
# mistakes it exists for: each row plants one mistake in a copy of a backend
# file and compiles the copy with exactly the command the cross build uses for
# the original (from its compile_commands.json: Apple's SDK headers, the
# declared EventKit API, the project's warnings, -Werror); the copy must fail.
# The original's object must build first, so a broken build cannot pass for a
# caught mistake.
#   tests/macos_api/mutations.sh <cross-build-dir>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:?usage: mutations.sh <macOS cross build directory>}
database="$build/compile_commands.json"
if [ ! -f "$database" ]; then
  echo "$database is missing: configure the cross build first (scripts/macos-cross.sh)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# file | text to replace | replacement | the mistake
mutations=(
  "screen_helper/desktop_macos.mm|#import <AppKit/AppKit.h>||missing import"
  "screen_helper/desktop_macos.mm|kCGWindowListExcludeDesktopElements|kCGWindowListExcludeDesktopElement|misspelt constant"
  "screen_helper/desktop_macos.mm|[dictionary objectForKey:key]|[dictionary objectForKeyedValue:key]|misspelt selector"
  "screen_helper/desktop_macos.mm|optionalUtf8String(application.localizedName)|utf8String(application.localizedName)|nullable name passed as nonnull"
  "screen_helper/desktop_macos.mm|for (NSObject* key in dictionary)|for (id key in dictionary)|message to unqualified id"
  "calendar_helper/event_store_eventkit.mm|requestFullAccessToEventsWithCompletion:|requestFullAccessToEventWithCompletion:|misspelt selector"
  "calendar_helper/event_store_eventkit.mm|^(BOOL granted, NSError* _Nullable error)|^(BOOL granted, NSError* _Nullable error, int)|wrong completion block type"
  "calendar_helper/event_store_eventkit.mm|calendarsForEntityType:EKEntityTypeEvent|calendarsForEntityType:EKEntityTypeEvents|misspelt constant"
  "calendar_helper/local_calendar_macos.mm|toDate:dateFromInstant(t)|toDate:t.secondsSince1970|wrong argument type"
)

# Writes the cross build's command for each backend file, less its output and
# dependency-file arguments, one argument per line, to $work/<name>.args, and
# prints the objects the build makes of them.
python3 - "$database" "$work" "$root" "${mutations[@]}" <<'PY' >"$work/objects" || exit 1
import json, os, shlex, sys
database, work, root, rows = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
commands = {entry["file"]: entry for entry in json.load(open(database))}
for file in sorted({row.split("|")[0] for row in rows}):
    original = os.path.join(root, file)
    if original not in commands:
        sys.exit(f"{file} is not in {database}")
    args, skip, object_file = [], None, None
    for arg in shlex.split(commands[original]["command"]):
        if skip == "-o":
            object_file = arg
        if skip:
            skip = None
        elif arg in ("-o", "-MT", "-MF"):
            skip = arg
        elif arg not in ("-MD", "-c", original):
            args.append(arg)
    with open(os.path.join(work, os.path.basename(file) + ".args"), "w") as out:
        out.write("\n".join(args) + "\n")
    print(object_file)
PY
mapfile -t objects <"$work/objects"
if ! ninja -C "$build" "${objects[@]}" >/dev/null; then
  echo "the backend files do not build unchanged in $build" >&2
  exit 1
fi

# One row: writes "caught ..." or "MISSED ..." to $work/result.<index>.
try_row() {  # index row
  local index=$1 file from to what
  IFS='|' read -r file from to what <<<"$2"
  local out="$work/result.$index" name text mutated output
  name=$(basename "$file")
  text=$(<"$root/$file")
  mutated=${text//"$from"/"$to"}
  if [ "$mutated" == "$text" ]; then
    echo "MISSED  $file: '$from' not found, so the mutation ($what) did not apply" >"$out"
    return
  fi
  mkdir -p "$work/$index"
  printf '%s\n' "$mutated" >"$work/$index/$name"
  local -a args
  mapfile -t args <"$work/$name.args"
  if output=$(cd "$build" && "${args[@]}" -fsyntax-only "$work/$index/$name" 2>&1); then
    echo "MISSED  $file: $what ('$from' -> '$to') compiled" >"$out"
  else
    { echo "caught  $file: $what"; grep -m1 'error:' <<<"$output" | sed "s|^$work/$index/|        |"; } >"$out"
  fi
}

# Two at a time: each compile parses the SDK's framework headers anew.
for index in "${!mutations[@]}"; do
  [ "$(jobs -rp | wc -l)" -lt 2 ] || wait -n
  try_row "$index" "${mutations[$index]}" &
done
wait

caught=0
missed=0
for index in "${!mutations[@]}"; do
  cat "$work/result.$index" 2>/dev/null || echo "MISSED  row $index left no result"
  if grep -q '^caught' "$work/result.$index" 2>/dev/null; then caught=$((caught + 1)); else missed=$((missed + 1)); fi
done
echo "mutations: $caught passed, $missed failed"
[ "$missed" -eq 0 ]
