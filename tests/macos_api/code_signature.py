#!/usr/bin/env python3
"""Reads the code signature of a thin 64-bit Mach-O executable and checks that
it covers the file: every page hash in its code directory must be the hash of
that page of the file. LLVM's tools print where the signature lies but do not
read it.

    code_signature.py EXECUTABLE

Prints what it found (identifier, flags, pages) and exits 0 when every page
matches, 1 otherwise.
"""

import hashlib
import struct
import sys

MH_MAGIC_64 = 0xFEEDFACF
LC_CODE_SIGNATURE = 0x1D
SUPERBLOB_MAGIC = 0xFADE0CC0  # CSMAGIC_EMBEDDED_SIGNATURE
CODEDIRECTORY_MAGIC = 0xFADE0C02
CODEDIRECTORY_SLOT = 0
SIGNATURE_SLOT = 0x10000  # CSSLOT_SIGNATURESLOT: a CMS signature (not ad hoc)
HASHES = {1: hashlib.sha1, 2: hashlib.sha256, 4: hashlib.sha384}
FLAG_NAMES = {0x2: "adhoc", 0x20000: "linker-signed", 0x10000: "runtime"}


class Unsigned(Exception):
    pass


def signature_location(image):
    """(offset, size) of the LC_CODE_SIGNATURE data in a thin 64-bit Mach-O."""
    magic, _, _, _, ncmds, _, _, _ = struct.unpack_from("<8I", image, 0)
    if magic != MH_MAGIC_64:
        raise Unsigned("not a thin 64-bit little-endian Mach-O file")
    at = 32
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<2I", image, at)
        if cmd == LC_CODE_SIGNATURE:
            return struct.unpack_from("<2I", image, at + 8)
        at += cmdsize
    raise Unsigned("no LC_CODE_SIGNATURE load command")


def read(image):
    """What the signature says, as a dict, with `mismatched` the list of page
    numbers whose hash differs from the file's."""
    offset, size = signature_location(image)
    if offset + size > len(image):
        raise Unsigned("the signature runs past the end of the file")
    blob = image[offset:offset + size]
    magic, _, count = struct.unpack_from(">3I", blob, 0)
    if magic != SUPERBLOB_MAGIC:
        raise Unsigned(f"signature magic {magic:#x}, not an embedded signature")
    slots = dict(struct.unpack_from(">2I", blob, 12 + 8 * i) for i in range(count))
    if CODEDIRECTORY_SLOT not in slots:
        raise Unsigned("no code directory")
    cd = slots[CODEDIRECTORY_SLOT]
    (magic, _, version, flags, hash_offset, ident_offset, special_slots, code_slots, code_limit,
     hash_size, hash_type, _, page_shift) = struct.unpack_from(">9I4B", blob, cd)
    if magic != CODEDIRECTORY_MAGIC:
        raise Unsigned(f"code directory magic {magic:#x}")
    if hash_type not in HASHES:
        raise Unsigned(f"unknown hash type {hash_type}")
    page = 1 << page_shift
    identifier = blob[cd + ident_offset:].split(b"\0", 1)[0].decode("utf-8", "replace")
    mismatched = []
    for n in range(code_slots):
        stored = blob[cd + hash_offset + n * hash_size:cd + hash_offset + (n + 1) * hash_size]
        start = n * page
        actual = HASHES[hash_type](image[start:min(start + page, code_limit)]).digest()[:hash_size]
        if stored != actual:
            mismatched.append(n)
    cms = slots.get(SIGNATURE_SLOT)
    return {
        "identifier": identifier,
        "version": version,
        "flags": flags,
        "flag_names": [name for bit, name in FLAG_NAMES.items() if flags & bit],
        "hash": HASHES[hash_type]().name,
        "page_size": page,
        "code_limit": code_limit,
        "signature_offset": offset,
        "code_slots": code_slots,
        "special_slots": special_slots,
        "pages_needed": -(-code_limit // page),
        "cms_bytes": struct.unpack_from(">I", blob, cms + 4)[0] - 8 if cms is not None else 0,
        "mismatched": mismatched,
    }


def problems(info):
    """Why the signature does not make an ad hoc signed, intact executable."""
    found = []
    if not info["flags"] & 0x2:
        found.append(f"not ad hoc (flags {info['flags']:#x})")
    if info["cms_bytes"] > 0:
        found.append("carries a CMS signature")
    if info["code_limit"] != info["signature_offset"]:
        found.append(f"covers {info['code_limit']} bytes, but the signature starts at {info['signature_offset']}")
    if info["code_slots"] != info["pages_needed"]:
        found.append(f"{info['code_slots']} page hashes for {info['pages_needed']} pages")
    if info["mismatched"]:
        found.append(f"{len(info['mismatched'])} of {info['code_slots']} page hashes differ "
                     f"(first: page {info['mismatched'][0]})")
    if not info["identifier"]:
        found.append("no identifier")
    return found


def describe(info):
    return (f"identifier {info['identifier']}, flags {info['flags']:#x}({','.join(info['flag_names'])}), "
            f"{info['code_slots']} pages of {info['page_size']} bytes hashed with {info['hash']}, "
            f"{info['special_slots']} special slots")


def main(argv):
    if len(argv) != 2:
        print("usage: code_signature.py EXECUTABLE", file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        image = f.read()
    try:
        info = read(image)
    except (Unsigned, struct.error) as problem:
        print(f"{argv[1]}: {problem}")
        return 1
    found = problems(info)
    print(f"{argv[1]}: {describe(info)}" + "".join(f"\n  {p}" for p in found))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
