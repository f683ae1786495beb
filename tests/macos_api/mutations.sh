#!/usr/bin/env bash
# Shows that the macOS cross build (scripts/macos-cross.sh) rejects the mistakes it exists for: each row plants
# one mistake in a copy of a backend file and compiles it with the cross build's own command for the original
# (compile_commands.json: Apple's SDK, the declared EventKit API, the project's warnings, -Werror); the copy must
# fail. The originals' objects must build first, so a broken build cannot pass for a caught mistake.
#   tests/macos_api/mutations.sh <cross-build-dir>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exec python3 - "$root" "${1:?usage: mutations.sh <macOS cross build directory>}" <<'PY'
import concurrent.futures, json, os, shlex, subprocess, sys, tempfile

MUTATIONS = [row.split("|") for row in """\
screen_helper/desktop_macos.mm|#import <AppKit/AppKit.h>||missing import
screen_helper/desktop_macos.mm|kCGWindowListExcludeDesktopElements|kCGWindowListExcludeDesktopElement|misspelt constant
screen_helper/desktop_macos.mm|[dictionary objectForKey:key]|[dictionary objectForKeyedValue:key]|misspelt selector
screen_helper/desktop_macos.mm|optionalUtf8String(application.localizedName)|utf8String(application.localizedName)|nullable name passed as nonnull
screen_helper/desktop_macos.mm|for (NSObject* key in dictionary)|for (id key in dictionary)|message to unqualified id
calendar_helper/event_store_eventkit.mm|requestFullAccessToEventsWithCompletion:|requestFullAccessToEventWithCompletion:|misspelt selector
calendar_helper/event_store_eventkit.mm|^(BOOL granted, NSError* _Nullable error)|^(BOOL granted, NSError* _Nullable error, int)|wrong completion block type
calendar_helper/event_store_eventkit.mm|calendarsForEntityType:EKEntityTypeEvent|calendarsForEntityType:EKEntityTypeEvents|misspelt constant
calendar_helper/local_calendar_macos.mm|toDate:dateFromInstant(t)|toDate:t.secondsSince1970|wrong argument type
""".splitlines()]  # file | text | replacement | the mistake

root, build = sys.argv[1:]
database = os.path.join(build, "compile_commands.json")
if not os.path.isfile(database):
    sys.exit(f"{database} is missing: configure the cross build first (scripts/macos-cross.sh)")
entries = {entry["file"]: entry for entry in json.load(open(database))}
commands, objects = {}, []
for file in {row[0] for row in MUTATIONS}:
    original = os.path.join(root, file)
    if original not in entries:
        sys.exit(f"{file} is not in {database}")
    commands[file], args = [], iter(shlex.split(entries[original]["command"]))
    for arg in args:  # the command less its output, dependency file and source
        if arg in ("-o", "-MT", "-MF"):
            value = next(args)
            if arg == "-o":
                objects.append(value)
        elif arg not in ("-MD", "-c", original):
            commands[file].append(arg)
if subprocess.run(["ninja", "-C", build, *objects], stdout=subprocess.DEVNULL).returncode:
    sys.exit(f"the backend files do not build unchanged in {build}")

def attempt(work, index, row):
    file, text, replacement, mistake = row
    original = open(os.path.join(root, file)).read()
    if original.count(text) == 0:
        return f"MISSED  {file}: '{text}' not found, so the mutation ({mistake}) did not apply"
    copy = os.path.join(work, str(index), os.path.basename(file))
    os.makedirs(os.path.dirname(copy))
    open(copy, "w").write(original.replace(text, replacement))
    run = subprocess.run([*commands[file], "-fsyntax-only", copy], cwd=build, capture_output=True, text=True)
    if run.returncode == 0:
        return f"MISSED  {file}: {mistake} ('{text}' -> '{replacement}') compiled"
    error = next((line for line in run.stderr.splitlines() if "error:" in line), "")
    return f"caught  {file}: {mistake}\n        {error.replace(os.path.dirname(copy) + '/', '')}"

# Two at a time: each compile parses the SDK's framework headers anew.
with tempfile.TemporaryDirectory() as work, concurrent.futures.ThreadPoolExecutor(2) as pool:
    results = list(pool.map(lambda item: attempt(work, *item), enumerate(MUTATIONS)))
print("\n".join(results))
missed = sum(not result.startswith("caught") for result in results)
print(f"mutations: {len(results) - missed} passed, {missed} failed")
sys.exit(1 if missed else 0)
PY
