#!/usr/bin/env python3
"""The check of the macOS cross-build's result passes only what a Mac running
macOS 12 on Apple silicon can load without the multitouch framework linked.
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


def image(commands, cputype=0x0100000C, filetype=2):
    body = b"".join(commands)
    header = struct.pack("<IiiIIIII", 0xFEEDFACF, cputype, 0, filetype, len(commands), len(body), 0x200085, 0)
    return header + body


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
        cases = {
            "the multitouch framework linked": image([build_version(12), dylib(COREFOUNDATION), dylib(MULTITOUCH)]),
            "... weakly": image([build_version(12), dylib(COREFOUNDATION), dylib(MULTITOUCH, 0x80000018)]),
            "no CoreFoundation": image([build_version(12), dylib(LIBSYSTEM)]),
            "Foundation besides": image([build_version(12), dylib(COREFOUNDATION), dylib(FOUNDATION)]),
            "macOS 13 at least": image([build_version(13), dylib(COREFOUNDATION)]),
            "no macOS version": image([dylib(COREFOUNDATION)]),
            "built for iOS": image([build_version(12, platform=2), dylib(COREFOUNDATION)]),
            "x86-64": image([build_version(12), dylib(COREFOUNDATION)], cputype=0x01000007),
            "a library, not an executable": image([build_version(12), dylib(COREFOUNDATION)], filetype=6),
            "cut short": image([build_version(12), dylib(COREFOUNDATION)])[:60],
            "an ELF file": b"\x7fELF" + bytes(60),
        }
        for name, data in cases.items():
            with self.subTest(name):
                status, err = self.check(data)
                self.assertEqual(status, 1)
                self.assertIn("macho-check:", err)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    CHECK = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
