#!/usr/bin/env python3
"""Checks the macOS executables as linked: what a Mac will load and run.

    check_linked.py SCREEN_HELPER CALENDAR_HELPER [UNIT_TEST ...]

For every executable: an arm64 executable for macOS, minos 26.0
(LC_BUILD_VERSION); two-level namespace, no undefined symbol, every imported
symbol bound to a library it loads (none looked up flat or dynamically); an ad
hoc code signature whose page hashes match the file (code_signature.py). For
the two helpers also: exactly the libraries they are meant to load, and the
property list: the calendar helper's __TEXT,__info_plist section holds
calendar_helper/Info.plist byte for byte, the screen helper has none.
LLVM's llvm-objdump-19 and llvm-nm-19 read the load commands and symbols.
Prints one line per check and exits 1 when any fails.
"""

import os
import re
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
sys.path[:0] = [here, os.path.join(root, "scripts")]
import code_signature  # noqa: E402
import check_plist_section  # noqa: E402

PLIST = os.path.join(root, "calendar_helper", "Info.plist")
FRAMEWORK = "/System/Library/Frameworks/{0}.framework/Versions/{1}/{0}"
RUNTIME = ["/usr/lib/libobjc.A.dylib", "/usr/lib/libc++.1.dylib", "/usr/lib/libSystem.B.dylib"]
LIBRARIES = {
    "halvic_screen_helper": [FRAMEWORK.format("AppKit", "C"), FRAMEWORK.format("CoreGraphics", "A"),
                             FRAMEWORK.format("Foundation", "C"), FRAMEWORK.format("CoreFoundation", "A"),
                             *RUNTIME],
    "halvic_calendar_helper": [FRAMEWORK.format("EventKit", "A"), FRAMEWORK.format("Foundation", "C"),
                               FRAMEWORK.format("CoreFoundation", "A"), *RUNTIME],
}
PLIST_SECTION = {"halvic_screen_helper": None, "halvic_calendar_helper": PLIST}


def tool(*args):
    return subprocess.run(args, capture_output=True, text=True, check=True).stdout


def load_commands(path):
    """The Mach header's fields and each load command's, from llvm-objdump."""
    header, commands = {}, []
    lines = tool("llvm-objdump-19", "--macho", "--private-headers", path).splitlines()
    for i, line in enumerate(lines):
        if line.startswith("      magic cputype"):
            header = dict(zip(["magic", "cputype", "cpusubtype", "caps", "filetype", "ncmds", "sizeofcmds"],
                              lines[i + 1].split()))
            header["flags"] = lines[i + 1].split()[7:]
        elif line.startswith("Load command") or line.startswith("Section"):
            commands.append({})
        elif commands and (field := re.match(r"\s*(\w+) (.*)", line)):
            commands[-1].setdefault(field[1], field[2].strip())
    return header, commands


def libraries(commands):
    return [c["name"].rsplit(" (offset", 1)[0] for c in commands
            if c.get("cmd", "").endswith("DYLIB") and c["cmd"] != "LC_ID_DYLIB"]


def check_build(path, header, commands):
    versions = [c for c in commands if c.get("cmd") == "LC_BUILD_VERSION"]
    old = [c["cmd"] for c in commands if c.get("cmd", "").startswith("LC_VERSION_MIN")]
    found = [(c["platform"], c["minos"]) for c in versions]
    problems = []
    if (header.get("cputype"), header.get("filetype")) != ("ARM64", "EXECUTE"):
        problems.append(f"a {header.get('cputype')} {header.get('filetype')}, not an arm64 executable")
    if found != [("macos", "26.0")] or old:
        problems.append(f"build versions {found} {old}, expected one: macos, minos 26.0")
    return problems, "arm64 executable, LC_BUILD_VERSION platform macos minos 26.0"


def check_libraries(path, header, commands):
    expected, loaded = LIBRARIES[os.path.basename(path)], libraries(commands)
    if sorted(loaded) == sorted(expected):
        return [], f"loads exactly {', '.join(os.path.basename(name) for name in loaded)}"
    extra, missing = sorted(set(loaded) - set(expected)), sorted(set(expected) - set(loaded))
    return [f"loads {loaded}; unexpected {extra}, missing {missing}"], ""


def check_symbols(path, header, commands):
    problems = []
    names = {os.path.basename(name).split(".")[0] for name in libraries(commands)}  # libc++.1.dylib: libc++
    missing_flags = {"NOUNDEFS", "TWOLEVEL"} - set(header["flags"])
    if missing_flags or "FORCE_FLAT" in header["flags"]:
        problems.append(f"header flags {' '.join(header['flags'])}")
    imported = tool("llvm-nm-19", "-m", "-u", path).splitlines()
    unbound = [line.strip() for line in imported if not (m := re.search(r"\(from (\S+)\)$", line))
               or m[1] not in names]
    if unbound:
        problems.append(f"{len(unbound)} undefined symbols not bound to a loaded library, e.g. {unbound[0]}")
    # Binds of the chained fixups: a library's name, or "weak" for C++'s weak
    # definitions; never "flat-namespace".
    binds = [line.split() for line in tool("llvm-objdump-19", "--macho", "--dyld-info", path).splitlines()]
    targets = {fields[6] for fields in binds if len(fields) > 7 and fields[4] == "bind"}
    if targets - names - {"weak"}:
        problems.append(f"binds to {sorted(targets - names - {'weak'})}")
    return problems, f"two-level namespace, {len(imported)} imported symbols each bound to a loaded library"


def check_signature(path, header, commands):
    with open(path, "rb") as f:
        image = f.read()
    try:
        info = code_signature.read(image)
    except code_signature.Unsigned as problem:
        return [str(problem)], ""
    return code_signature.problems(info), f"signature: {code_signature.describe(info)}, every page hash matches"


def check_plist(path, header, commands):
    expected = PLIST_SECTION[os.path.basename(path)]
    with open(path, "rb") as f:
        found = check_plist_section.section_bytes(f.read(), 0, "__TEXT", "__info_plist")
    if expected is None:
        return ([] if found is None else [f"has a __TEXT,__info_plist section ({len(found)} bytes)"],
                "no __TEXT,__info_plist section")
    with open(expected, "rb") as f:
        wanted = f.read()
    if found is None:
        return ["no __TEXT,__info_plist section"], ""
    if found != wanted:
        return [f"__TEXT,__info_plist ({len(found)} bytes) differs from {expected} ({len(wanted)} bytes)"], ""
    return [], f"__TEXT,__info_plist is calendar_helper/Info.plist ({len(found)} bytes)"


EVERY_EXECUTABLE = [check_build, check_symbols, check_signature]
HELPERS = [check_libraries, check_plist]


def main(paths):
    names = [os.path.basename(path) for path in paths]
    if any(helper not in names for helper in LIBRARIES):
        print("usage: check_linked.py SCREEN_HELPER CALENDAR_HELPER [UNIT_TEST ...]", file=sys.stderr)
        return 2
    passed = failed = 0
    for path, name in zip(paths, names):
        header, commands = load_commands(path)
        for check in EVERY_EXECUTABLE + (HELPERS if name in LIBRARIES else []):
            problems, description = check(path, header, commands)
            if problems:
                failed += 1
                print(f"FAIL  {name}: {'; '.join(problems)}")
            else:
                passed += 1
                print(f"ok    {name}: {description}")
    print(f"link checks: {passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
