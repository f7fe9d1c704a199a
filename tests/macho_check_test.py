#!/usr/bin/env python3
"""The check of the macOS builds' result passes only what a Mac running macOS
12 on Apple silicon can load and run without the multitouch framework linked.
The images are made here, byte by byte, as the linker lays them out.

    macho_check_test.py MACHO-CHECK
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

CHECK = None
COREFOUNDATION = "/System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation"
LIBSYSTEM = "/usr/lib/libSystem.B.dylib"
MULTITOUCH = "/System/Library/PrivateFrameworks/MultitouchSupport.framework/Versions/A/MultitouchSupport"
FOUNDATION = "/System/Library/Frameworks/Foundation.framework/Versions/C/Foundation"


def dylib(name, cmd=0xC):
    path = name.encode() + b"\0"
    size = (24 + len(path) + 7) // 8 * 8
    return struct.pack("<IIIIII", cmd, size, 24, 2, 0x10000, 0x10000) + path.ljust(size - 24, b"\0")


def build_version(major, platform=1):
    return struct.pack("<IIIIII", 0x32, 24, platform, major << 16, major << 16, 0)


# The linker's ad-hoc signature begins with an embedded-signature superblob;
# an empty one stands for it.
SIGNATURE = struct.pack(">III", 0xFADE0CC0, 12, 0)


def image(commands, cputype=0x0100000C, filetype=2, signature=SIGNATURE):
    """A header and the load commands, then, unless signature is None, the
    signature blob that a last LC_CODE_SIGNATURE points at."""
    if signature is not None:
        end = 32 + sum(map(len, commands)) + 16
        commands = commands + [struct.pack("<IIII", 0x1D, 16, end, len(signature))]
    body = b"".join(commands)
    header = struct.pack("<IiiIIIII", 0xFEEDFACF, cputype, 0, filetype, len(commands), len(body), 0x200085, 0)
    return header + body + (signature or b"")


class MachoCheck(unittest.TestCase):
    def check(self, data):
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "thrum")
            with open(path, "wb") as binary:
                binary.write(data)
            run = subprocess.run([sys.executable, CHECK, path], capture_output=True, text=True)
        return run.returncode, run.stderr

    def test_passes_the_tool_as_it_links(self):
        for runtime in ([], [dylib("/usr/lib/libc++.1.dylib")]):
            status, err = self.check(image([build_version(12), dylib(LIBSYSTEM), dylib(COREFOUNDATION)] + runtime))
            self.assertEqual((status, err), (0, ""))

    def test_rejects_what_would_not_load_or_links_too_much(self):
        good = [build_version(12), dylib(COREFOUNDATION)]
        cases = {
            "the multitouch framework linked": (image(good + [dylib(MULTITOUCH)]), "links the multitouch"),
            "... weakly": (image(good + [dylib(MULTITOUCH, 0x80000018)]), "links the multitouch"),
            "no CoreFoundation": (image([build_version(12), dylib(LIBSYSTEM)]), "does not link CoreFoundation"),
            "Foundation besides": (image(good + [dylib(FOUNDATION)]), "beyond CoreFoundation"),
            "macOS 13 at least": (image([build_version(13), dylib(COREFOUNDATION)]), "macOS 13.0 and later, not 12.0"),
            "macOS 11: built without the floor": (image([build_version(11), dylib(COREFOUNDATION)]), "not 12.0"),
            "no macOS version": (image([dylib(COREFOUNDATION)]), "names no macOS version"),
            "built for iOS": (image([build_version(12, platform=2), dylib(COREFOUNDATION)]), "not macOS"),
            "unsigned": (image(good, signature=None), "no code signature"),
            "signature cut short": (image(good)[:-4], "signature runs past the end"),
            "signature that is none": (image(good, signature=bytes(12)), "is no signature"),
            "x86-64": (image(good, cputype=0x01000007), "not arm64"),
            "a library, not an executable": (image(good, filetype=6), "not an executable"),
            "load commands cut short": (image(good)[:60], "past the end of the file"),
            "an ELF file": (b"\x7fELF" + bytes(60), "not a 64-bit"),
        }
        for name, (data, fault) in cases.items():
            with self.subTest(name):
                status, err = self.check(data)
                self.assertEqual(status, 1)
                self.assertIn("macho-check:", err)
                self.assertIn(fault, err)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    CHECK = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
