#!/usr/bin/env python3
"""Checks that a Mach-O executable's __TEXT,__info_plist section holds exactly
the bytes of a property-list file.

    check_plist_section.py EXECUTABLE PLIST

The macOS build runs it after linking the calendar helper, which carries its
property list in that section. The Mach-O load commands are read directly
(otool prints arm64 sections as byte-swapped words), thin or universal, and
every architecture slice must match. Exit status 0 when all match, 1 otherwise.
"""

import struct
import sys

MH_MAGIC_64 = 0xFEEDFACF
FAT_MAGIC = 0xCAFEBABE
FAT_MAGIC_64 = 0xCAFEBABF
LC_SEGMENT_64 = 0x19


def _name(raw):
    return raw.split(b"\0", 1)[0].decode("ascii", "replace")


def section_bytes(image, slice_offset, segment, section):
    """The contents of segment,section in the 64-bit slice at slice_offset, or None."""
    magic, _, _, _, ncmds, _, _, _ = struct.unpack_from("<8I", image, slice_offset)
    if magic != MH_MAGIC_64:
        raise ValueError("not a 64-bit little-endian Mach-O slice")
    at = slice_offset + 32
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<2I", image, at)
        if cmd == LC_SEGMENT_64:
            nsects = struct.unpack_from("<I", image, at + 64)[0]
            for i in range(nsects):
                s = at + 72 + 80 * i
                sectname, segname = image[s:s + 16], image[s + 16:s + 32]
                size = struct.unpack_from("<Q", image, s + 40)[0]
                offset = struct.unpack_from("<I", image, s + 48)[0]
                if _name(segname) == segment and _name(sectname) == section:
                    start = slice_offset + offset
                    return image[start:start + size]
        at += cmdsize
    return None


def slices(image):
    """Offsets of the Mach-O slices in a thin or universal file."""
    magic = struct.unpack_from(">I", image, 0)[0]
    if magic == FAT_MAGIC:
        count = struct.unpack_from(">I", image, 4)[0]
        return [struct.unpack_from(">5I", image, 8 + 20 * i)[2] for i in range(count)]
    if magic == FAT_MAGIC_64:
        count = struct.unpack_from(">I", image, 4)[0]
        return [struct.unpack_from(">2I2Q2I", image, 8 + 32 * i)[2] for i in range(count)]
    return [0]


def main(argv):
    if len(argv) != 3:
        print("usage: check_plist_section.py EXECUTABLE PLIST", file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        image = f.read()
    with open(argv[2], "rb") as f:
        expected = f.read()
    try:
        for offset in slices(image):
            found = section_bytes(image, offset, "__TEXT", "__info_plist")
            if found is None:
                print(f"{argv[1]}: no __TEXT,__info_plist section", file=sys.stderr)
                return 1
            if found != expected:
                print(f"{argv[1]}: __TEXT,__info_plist ({len(found)} bytes) differs from "
                      f"{argv[2]} ({len(expected)} bytes)", file=sys.stderr)
                return 1
    except (struct.error, ValueError) as problem:
        print(f"{argv[1]}: unreadable Mach-O: {problem}", file=sys.stderr)
        return 1
    print(f"{argv[1]}: __TEXT,__info_plist matches {argv[2]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
