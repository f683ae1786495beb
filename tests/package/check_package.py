#!/usr/bin/env python3
"""Judges the Debian package (scripts/package-check.sh); prints one line per case and fails when any case does.

  check_package.py contents DEB STAGED MANIFEST BUILD
      the package against what the install rules install with the prefix /usr (STAGED, a DESTDIR install of the
      same build; MANIFEST, that install's install_manifest.txt; BUILD, the build folder)
  check_package.py root-run OUT
      what `tests/package/in_root.sh run` recorded in OUT in a clean Debian 12 root
  check_package.py purge OUT
      what `tests/package/in_root.sh purge` recorded in OUT
"""
import json
import os
import re
import struct
import subprocess
import sys
import zlib
from pathlib import Path

PACKAGE = "halvic-desktop-helpers"
LIBEXEC = "/usr/libexec/halvic"
HELPERS = ("halvic_screen_helper", "halvic_calendar_helper", "halvic_screencapture")
failures = []


def case(name, problems):
    """Reports a case: passes when problems (a list of strings) is empty."""
    if problems:
        failures.append(name)
        print(f"FAIL {name}")
        for problem in problems:
            print(f"     {problem}")
    else:
        print(f"pass {name}")


def deb_field(deb, field):
    return subprocess.run(["dpkg-deb", "--field", deb, field], check=True, capture_output=True,
                          text=True).stdout.strip()


def deb_paths(deb):
    """The package's paths as dpkg lists them: "/usr/...", no trailing slash."""
    listing = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], check=True, capture_output=True).stdout
    names = subprocess.run(["tar", "-t"], input=listing, check=True, capture_output=True).stdout.decode()
    return {"/" + name.removeprefix("./").rstrip("/") for name in names.splitlines() if name not in ("./", ".")}


def tree_paths(top):
    top = Path(top)
    return {"/" + str(path.relative_to(top)) for path in top.rglob("*")}


def contents(deb, staged, manifest, build):
    deb = Path(deb)
    unpacked = Path(staged).parent / "unpacked"
    subprocess.run(["rm", "-rf", str(unpacked)], check=True)
    subprocess.run(["dpkg-deb", "--extract", str(deb), str(unpacked)], check=True)

    version, arch = deb_field(deb, "Version"), deb_field(deb, "Architecture")
    host_arch = subprocess.run(["dpkg", "--print-architecture"], check=True, capture_output=True,
                               text=True).stdout.strip()
    case("name: <package>_<version>_<arch>.deb", [
        f"{deb.name} for Package {deb_field(deb, 'Package')}, Version {version}, Architecture {arch}"
    ] if deb.name != f"{PACKAGE}_{version}_{arch}.deb" or deb_field(deb, "Package") != PACKAGE
        or arch != host_arch else [])

    # Exactly the install rules' files: the package is made from them, the documentation included.
    packaged, installed = deb_paths(deb), tree_paths(staged)
    case("contents: exactly what `cmake --install` installs with the prefix /usr",
         [f"only in the package: {p}" for p in sorted(packaged - installed)] +
         [f"only in the install: {p}" for p in sorted(installed - packaged)])
    files = {p for p in installed if not (Path(staged) / p.lstrip("/")).is_dir()}
    listed = set(Path(manifest).read_text().split("\n")) - {""}
    case("install_manifest.txt lists every installed file, without DESTDIR",
         [f"not listed: {p}" for p in sorted(files - listed)] + [f"listed only: {p}" for p in sorted(listed - files)])

    problems = [f"missing: {LIBEXEC}/{h}" for h in HELPERS if f"{LIBEXEC}/{h}" not in packaged]
    problems += [f"not under {LIBEXEC}: {p}" for p in packaged
                 if os.access(unpacked / p.lstrip("/"), os.X_OK) and (unpacked / p.lstrip("/")).is_file()
                 and not p.startswith(LIBEXEC + "/")]
    case(f"the executables under {LIBEXEC}, and no other", problems)

    # Each GNOME Shell extension where the Shell looks for system extensions, serving the installed programs.
    problems = []
    extensions = sorted((unpacked / "usr/share/gnome-shell/extensions").glob("*"))
    if not extensions:
        problems.append("no extension in /usr/share/gnome-shell/extensions")
    for extension in extensions:
        metadata = json.loads((extension / "metadata.json").read_text())
        if metadata.get("uuid") != extension.name:
            problems.append(f"{extension.name}: metadata.json says uuid {metadata.get('uuid')}")
        callers = (extension / "callers").read_text() if (extension / "callers").is_file() else ""
        expected = f"{LIBEXEC}/halvic_screen_helper\n{LIBEXEC}/halvic_screencapture\n"
        if callers != expected:
            problems.append(f"{extension.name}/callers is {callers!r}, not {expected!r}")
    case("GNOME Shell extension(s) in /usr/share/gnome-shell/extensions, callers at /usr/libexec/halvic", problems)

    desktop = unpacked / "usr/share/applications/halvic-screencapture.desktop"
    exec_lines = re.findall(r"^Exec=(.*)$", desktop.read_text(), re.M) if desktop.is_file() else []
    case("KWin's authorisation file in /usr/share/applications names the installed screenshot program",
         [] if exec_lines == [f"{LIBEXEC}/halvic_screencapture"] else [f"{desktop}: Exec lines {exec_lines}"])

    copyright_file = unpacked / f"usr/share/doc/{PACKAGE}/copyright"
    text = copyright_file.read_text() if copyright_file.is_file() else ""
    case(f"copyright file in /usr/share/doc/{PACKAGE}, machine-readable",
         [] if text.startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
         else [f"{copyright_file}: missing or not in the copyright format"])

    # No path of the build or of CPack's staging folder in any file: the installed paths only.
    leaks = [str(path.relative_to(unpacked)) for path in unpacked.rglob("*") if path.is_file()
             and any(marker in path.read_bytes() for marker in (str(Path(build)).encode(), b"_CPack_Packages"))]
    case("no build or staging path in any packaged file", [f"in {leak}" for leak in leaks])


def read(out, name):
    path = Path(out) / name
    return path.read_text() if path.is_file() else ""


def run_problems(out, name):
    """A helper's run: exit status 0, nothing on standard error, one JSON line; returns (problems, the object)."""
    problems, line = [], None
    if read(out, f"{name}.status").strip() != "0":
        problems.append(f"exit status {read(out, f'{name}.status').strip() or 'not recorded'}")
    if read(out, f"{name}.err"):
        problems.append(f"standard error: {read(out, f'{name}.err')!r}")
    text = read(out, f"{name}.out")
    if not text.endswith("\n") or text.count("\n") != 1:
        problems.append(f"standard output is not one line: {text!r}")
    try:
        line = json.loads(text)
    except ValueError:
        problems.append(f"not JSON: {text!r}")
    return problems, line


def png_pixels(path):
    """Width, height and the set of RGB colours of an 8-bit RGB or RGBA PNG without interlacing."""
    data = Path(path).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("no PNG signature")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour_type, _, _, interlace = header
    if depth != 8 or colour_type not in (2, 6) or interlace:
        raise ValueError(f"depth {depth}, colour type {colour_type}, interlace {interlace}: not read here")
    channels = 3 if colour_type == 2 else 4
    raw, stride = zlib.decompress(idat), width * channels
    previous, colours = bytearray(stride), set()
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b, c = previous[x], previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        colours.update(bytes(line[x:x + 3]) for x in range(0, stride, channels))
        previous = line
    return width, height, colours


def root_run(out):
    before, installed = (read(out, f"packages-{n}.txt") for n in ("before", "installed"))
    added = sorted(set(installed.splitlines()) - set(before.splitlines()))
    case("apt-get install ./<deb> into a clean Debian 12 root",
         [] if f"{PACKAGE} install ok installed" in installed
         else ["the package is not installed:", read(out, "install.log")[-2000:]])
    print(f"     it installed {len(added)} packages: {' '.join(a.split()[0] for a in added)}")

    ldd = read(out, "ldd.txt")
    case("every installed executable finds all its libraries (ldd)",
         [line.strip() for line in ldd.splitlines() if "not found" in line or "not a dynamic" in line]
         + ([] if ldd.count("== ") == len(HELPERS) else [f"ldd ran on {ldd.count('== ')} programs"]))

    for name, error in (("bare-screen", "no_active_window"), ("bare-calendar", "calendar_unavailable")):
        problems, line = run_problems(out, name)
        if line is not None and (line.get("ok") is not False or line.get("error") != error):
            problems.append(f"answered {line}, not {error}")
        case(f"{name}: with only the package's dependencies, no display and no bus: {error}", problems)

    colour, title = read(out, "screen-window.txt").splitlines()[:2] or ["", ""]
    problems, line = run_problems(out, "screen")
    if line is not None:
        if line.get("ok") is not True or line.get("window_title") != title or line.get("owner_name") != "XTerm":
            problems.append(f"answered {line}")
        else:
            if read(out, "screen-file.json") != read(out, "screen.out").rstrip("\n"):
                problems.append("the output file differs from the line")
            try:
                width, height, colours = png_pixels(line["image_path"])
                bounds = line["bounds"]
                if (width, height) != (bounds["width"], bounds["height"]):
                    problems.append(f"PNG {width}x{height} for bounds {bounds}")
                if colours != {bytes.fromhex(colour[1:])}:
                    problems.append(f"PNG colours {sorted(c.hex() for c in colours)[:5]}, not only {colour}")
            except (OSError, ValueError, KeyError, TypeError) as problem:
                problems.append(f"image: {problem}")
    case("X11 capture on Xvfb with openbox: the xterm window, its PNG at its bounds in its one colour", problems)

    start, end, calendar, title, location = (read(out, "calendar-event.txt").splitlines() + [""] * 5)[:5]
    problems, line = run_problems(out, "calendar")
    expected = {"ok": True, "events": [{"start_ts": int(start or 0), "end_ts": int(end or 0), "calendar": calendar,
                                        "title": title, "location": location, "all_day": False}]}
    if line is not None and line != expected:
        problems.append(f"answered {line}, not {expected}")
    case("calendar on a private Evolution Data Server: tomorrow's event", problems)


def purge(out):
    files_before = set(read(out, "files-before.txt").splitlines())
    files_after = set(read(out, "files-after.txt").splitlines())
    own = set(read(out, "dpkg-L.txt").split()) - {"/."}
    problems = [] if own else ["dpkg -L listed nothing"]
    problems += [f"left behind: {p}" for p in sorted(files_after - files_before)]
    problems += [f"gone: {p}" for p in sorted(files_before - files_after)]
    before, after = read(out, "packages-before.txt"), read(out, "packages-after.txt")
    problems += [f"packages differ: {sorted(set(after.splitlines()) ^ set(before.splitlines()))}"] \
        if after != before or not before else []
    case("apt-get purge: the root's files and packages as before apt-get install ./<deb>", problems)
    print(f"     the package installed {len(own - files_before)} paths of its own, and the purge left none")


if __name__ == "__main__":
    if sys.argv[1:2] == ["contents"] and len(sys.argv) == 6:
        contents(*sys.argv[2:])
    elif sys.argv[1:2] == ["root-run"] and len(sys.argv) == 3:
        root_run(sys.argv[2])
    elif sys.argv[1:2] == ["purge"] and len(sys.argv) == 3:
        purge(sys.argv[2])
    else:
        sys.exit(__doc__)
    sys.exit(1 if failures else 0)
