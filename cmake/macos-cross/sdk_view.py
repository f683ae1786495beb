#!/usr/bin/env python3
"""Prints the sysroot the macOS cross build should use for a macOS SDK.

    sdk_view.py SDK VIEW

An SDK whose symbolic links were copied as small text files holding the link's
target (a copy made without symlinks) cannot be linked against: the linker
finds a framework's re-exported libraries through Foo.framework/Versions/X/
Foo.tbd, which is such a link. For that SDK this builds VIEW, a tree of
symbolic links into SDK in which each of those files is a real link again, and
prints VIEW; for an SDK with real links it removes VIEW and prints SDK. The SDK
itself is only read.
"""

import os
import shutil
import sys


def copied_link(path):
    """The file a copied link at `path` names, or None for any other file."""
    if os.path.islink(path) or os.path.getsize(path) > 1024:
        return None
    with open(path, "rb") as f:
        text = f.read()
    if not text.startswith(b"../") or b"\n" in text:
        return None
    target = os.path.normpath(os.path.join(os.path.dirname(path), text.decode()))
    return target if os.path.isfile(target) else None


def main(sdk, view):
    sdk = os.path.abspath(sdk)
    links = {}
    frameworks = os.path.join(sdk, "System", "Library", "Frameworks")
    for folder, _, files in os.walk(frameworks):
        if os.sep + "Versions" + os.sep in folder + os.sep:
            for name in files:
                path = os.path.join(folder, name)
                if name.endswith(".tbd") and (target := copied_link(path)):
                    links[path] = target
    if os.path.lexists(view):
        shutil.rmtree(view)
    if not links:
        print(sdk, end="")
        return 0
    # Folders that hold a copied link are made; everything else is one link.
    made = {sdk}
    for path in links:
        folder = os.path.dirname(path)
        while folder not in made:
            made.add(folder)
            folder = os.path.dirname(folder)
    for folder in sorted(made):
        os.makedirs(os.path.join(view, os.path.relpath(folder, sdk)), exist_ok=True)
        for name in os.listdir(folder):
            path = os.path.join(folder, name)
            if path not in made:
                os.symlink(links.get(path, path), os.path.join(view, os.path.relpath(path, sdk)))
    print(view, end="")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: sdk_view.py SDK VIEW")
    sys.exit(main(*sys.argv[1:]))
