#!/usr/bin/env python3
"""Checks that a file is a Mach-O arm64 executable built for macOS 12.0 and
later, signed (Apple silicon runs no unsigned code; the linker's ad-hoc
signature will do), that links CoreFoundation, and nothing beyond the C and C++
runtimes besides, and not the multitouch framework (the tool opens that at run
time).

    macho-check.py FILE     prints the libraries it links; exit 1 on a fault
"""
import struct
import sys

MH_MAGIC_64 = 0xFEEDFACF
CPU_TYPE_ARM64 = 0x0100000C
MH_EXECUTE = 2
MH_DYLIB = 6
FILE_TYPES = {MH_EXECUTE: "an executable", MH_DYLIB: "a dynamic library"}
LC_REQ_DYLD = 0x80000000
LC_BUILD_VERSION = 0x32
LC_CODE_SIGNATURE = 0x1D
CSMAGIC_EMBEDDED_SIGNATURE = 0xFADE0CC0
PLATFORM_MACOS = 1
FLOOR_MACOS = (12, 0)
# Every load command that names a library the loader must bind.
DYLIB_COMMANDS = {
    0xC: "LC_LOAD_DYLIB",
    0x18 | LC_REQ_DYLD: "LC_LOAD_WEAK_DYLIB",
    0x1F | LC_REQ_DYLD: "LC_REEXPORT_DYLIB",
    0x20: "LC_LAZY_LOAD_DYLIB",
    0x23 | LC_REQ_DYLD: "LC_LOAD_UPWARD_DYLIB",
}
COREFOUNDATION = "/System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation"
ALLOWED = {COREFOUNDATION, "/usr/lib/libSystem.B.dylib", "/usr/lib/libc++.1.dylib"}
MULTITOUCH = "MultitouchSupport"


def commands(data, filetype=MH_EXECUTE):
    """Each load command of a thin 64-bit arm64 Mach-O image of `filetype`,
    as (command, offset, size), once the header and its bounds are checked."""
    if len(data) < 32:
        raise ValueError("too short for a Mach-O header")
    magic, cputype, _, kind, ncmds, sizeofcmds = struct.unpack_from("<IiiIII", data, 0)
    if magic != MH_MAGIC_64:
        raise ValueError(f"not a 64-bit little-endian Mach-O file (magic {magic:#x})")
    if cputype != CPU_TYPE_ARM64:
        raise ValueError(f"not arm64 (cpu type {cputype:#x})")
    if kind != filetype:
        raise ValueError(f"not {FILE_TYPES[filetype]} (file type {kind})")
    if 32 + sizeofcmds > len(data):
        raise ValueError("load commands run past the end of the file")
    offset = 32
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<II", data, offset)
        if cmdsize < 8 or offset + cmdsize > 32 + sizeofcmds:
            raise ValueError(f"malformed load command at offset {offset}")
        yield cmd, offset, cmdsize
        offset += cmdsize


def load_commands(data, filetype=MH_EXECUTE):
    """The libraries named in the load commands of a thin 64-bit Mach-O
    image, the oldest macOS it is built for (None if it says none) and
    whether it carries a code signature."""
    names = []
    oldest = None
    signed = False
    for cmd, offset, cmdsize in commands(data, filetype):
        if cmd in DYLIB_COMMANDS:
            (name_offset,) = struct.unpack_from("<I", data, offset + 8)
            raw = data[offset + name_offset:offset + cmdsize]
            names.append((DYLIB_COMMANDS[cmd], raw.split(b"\0", 1)[0].decode()))
        elif cmd == LC_BUILD_VERSION:
            platform, minos = struct.unpack_from("<II", data, offset + 8)
            if platform != PLATFORM_MACOS:
                raise ValueError(f"built for platform {platform}, not macOS")
            oldest = (minos >> 16, (minos >> 8) & 0xFF)
        elif cmd == LC_CODE_SIGNATURE:
            dataoff, datasize = struct.unpack_from("<II", data, offset + 8)
            if datasize < 12 or dataoff + datasize > len(data):
                raise ValueError("the code signature runs past the end of the file")
            (magic,) = struct.unpack_from(">I", data, dataoff)
            if magic != CSMAGIC_EMBEDDED_SIGNATURE:
                raise ValueError(f"the code signature is no signature (magic {magic:#x})")
            signed = True
    return names, oldest, signed

def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    path = sys.argv[1]
    with open(path, "rb") as binary:
        data = binary.read()
    try:
        names, oldest, signed = load_commands(data)
    except (ValueError, struct.error) as fault:
        print(f"macho-check: {path}: {fault}", file=sys.stderr)
        return 1
    faults = []
    if oldest is None:
        faults.append("names no macOS version")
    elif oldest != FLOOR_MACOS:
        faults.append(f"is built for macOS {oldest[0]}.{oldest[1]} and later, not {FLOOR_MACOS[0]}.{FLOOR_MACOS[1]}")
    if not signed:
        faults.append("has no code signature, so Apple silicon will not run it")
    for command, name in names:
        print(f"  {command} {name}")
        if MULTITOUCH in name:
            faults.append(f"links the multitouch framework: {name}")
        elif name not in ALLOWED:
            faults.append(f"links something beyond CoreFoundation and the runtimes: {name}")
    if COREFOUNDATION not in (name for _, name in names):
        faults.append("does not link CoreFoundation")
    for fault in faults:
        print(f"macho-check: {path}: {fault}", file=sys.stderr)
    if not faults:
        print(f"macho-check: {path}: signed Mach-O arm64 executable for macOS {oldest[0]}.{oldest[1]} or later; "
              "links CoreFoundation, not the multitouch framework")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
