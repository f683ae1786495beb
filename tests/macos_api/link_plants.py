#!/usr/bin/env python3
"""Shows that check_linked.py catches what it exists for: each row relinks one
helper of the macOS cross build with the build's own link command (from ninja)
plus one mistake, or changes the linked file, and the named check must then
fail while the unchanged helpers pass every check.

    link_plants.py <cross-build-dir>
"""

import os
import shlex
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_linked  # noqa: E402

SCREEN = "screen_helper/halvic_screen_helper"
CALENDAR = "calendar_helper/halvic_calendar_helper"
# helper | extra link arguments | change to the linked file | check that must fail | the mistake
PLANTS = [
    (SCREEN, ["-framework", "Security"], None, "check_libraries", "an extra framework"),
    (CALENDAR, ["-framework", "CoreGraphics"], None, "check_libraries", "a framework of the other helper"),
    (SCREEN, ["-Wl,-flat_namespace"], None, "check_symbols", "a flat namespace"),
    (SCREEN, ["-Wl,-undefined,dynamic_lookup", "-Wl,-U,_halvic_nowhere", "-Wl,-u,_halvic_nowhere"], None,
     "check_symbols", "a symbol left to be looked up at run time"),
    (SCREEN, ["-Wl,-platform_version,macos,15.0,26.0"], None, "check_build", "an older deployment target"),
    (SCREEN, ["-Wl,-no_adhoc_codesign"], None, "check_signature", "no code signature"),
    (CALENDAR, [], "page", "check_signature", "a byte changed after signing"),
    (SCREEN, ["-Wl,-sectcreate,__TEXT,__info_plist,{plist}"], None, "check_plist", "a property list in the screen helper"),
    (CALENDAR, [], "plist", "check_plist", "a different property list in the calendar helper"),
]


def link_command(build, target):
    """The build's link command for `target`, as a list of arguments."""
    line = subprocess.run(["ninja", "-C", build, "-t", "commands", target], capture_output=True, text=True,
                          check=True).stdout.splitlines()[-1]
    return next(shlex.split(step) for step in line.split(" && ") if "-o " + target in step)


def failing_checks(path):
    header, commands = check_linked.load_commands(path)
    return {check.__name__ for check in check_linked.EVERY_EXECUTABLE + check_linked.HELPERS
            if check(path, header, commands)[0]}


def plant(build, work, index, row):
    target, extra, change, check, mistake = row
    name = os.path.basename(target)
    output = os.path.join(work, str(index), name)
    os.makedirs(os.path.dirname(output))
    plist = os.path.join(work, str(index), "Info.plist")
    with open(check_linked.PLIST, "rb") as source, open(plist, "wb") as copy:
        copy.write(source.read().replace(b"1.0", b"1.1"))
    command = link_command(build, target)
    command[command.index("-o") + 1] = output
    if change == "plist":
        command = [plist if arg == check_linked.PLIST else arg for arg in command]
    command += [arg.format(plist=plist) for arg in extra]
    if subprocess.run(command, cwd=build, capture_output=True).returncode:
        return f"MISSED  {name}: {mistake}: the link failed, so nothing was checked"
    if change == "page":
        with open(output, "r+b") as f:
            f.seek(0x4000)
            byte = f.read(1)
            f.seek(0x4000)
            f.write(bytes([byte[0] ^ 1]))
    failed = failing_checks(output)
    if check not in failed:
        return f"MISSED  {name}: {mistake} passed {check}"
    return f"caught  {name}: {mistake} ({', '.join(sorted(failed))})"


def main(build):
    originals = {target: failing_checks(os.path.join(build, target)) for target in (SCREEN, CALENDAR)}
    if any(originals.values()):
        sys.exit(f"the helpers in {build} fail {originals} unchanged: run check_linked.py first")
    with tempfile.TemporaryDirectory() as work:
        results = [plant(build, work, index, row) for index, row in enumerate(PLANTS)]
    print("\n".join(results))
    missed = sum(not result.startswith("caught") for result in results)
    print(f"link plants: {len(results) - missed} passed, {missed} failed")
    return 1 if missed else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: link_plants.py <macOS cross build directory>")
    sys.exit(main(sys.argv[1]))
