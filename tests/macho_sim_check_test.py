#!/usr/bin/env python3
"""The check of the simulated trackpad built for a Mac passes a redirect whose
interpose entries replace dlopen, among others, with functions of its own and a
simulation that exports the six functions over the platform's CoreFoundation,
whichever way the linker records its pointers: dyld's opcodes or chained fixups. The libraries are
made here, byte by byte.

    macho_sim_check_test.py MACHO-SIM-CHECK
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
SIX = ["_MTDeviceCreateList", "_MTDeviceGetDeviceID", "_MTActuatorCreateFromDeviceID", "_MTActuatorOpen",
       "_MTActuationCreateFromDictionary", "_MTActuationActuate"]
TEXT, DATA, LINKEDIT = 0x0, 0x4000, 0x5000  # each segment's address and file offset alike
FUNCTION = 0x1010  # inside __text, which spans 0x1000 to 0x1100


def uleb(value):
    out = bytearray()
    while True:
        byte, value = value & 0x7F, value >> 7
        out.append(byte | (0x80 if value else 0))
        if not value:
            return bytes(out)


def segment(name, address, size, sections):
    body = b"".join(struct.pack("<16s16sQQIIIIIIII", sect.encode(), name.encode(), at, length, at, 3, 0, 0, 0, 0, 0, 0)
                    for sect, at, length in sections)
    return struct.pack("<II16sQQQQiiII", 0x19, 72 + len(body), name.encode(), address, size, address, size, 7, 3,
                       len(sections), 0) + body


def dylib(name):
    path = name.encode() + b"\0"
    size = (24 + len(path) + 7) // 8 * 8
    return struct.pack("<IIIIII", 0xC, size, 24, 2, 0x10000, 0x10000) + path.ljust(size - 24, b"\0")


def export_trie(names):
    """A root whose edges each spell a whole name and end in a leaf."""
    leaves = [uleb(2) + b"\0\0\0" for _ in names]  # flags 0, address 0, no children
    size = 1 + 1 + sum(len(n) + 1 + 2 for n in names)  # two-byte offsets, padded below
    root, at = bytearray(b"\0" + bytes([len(names)])), size
    for name, leaf in zip(names, leaves):
        root += name.encode() + b"\0" + bytes([at & 0x7F | 0x80, at >> 7])
        at += len(leaf)
    return bytes(root) + b"".join(leaves)


def classic(slots):
    """Opcodes for slots: (offset in __DATA, "rebase" or a symbol name)."""
    rebase, bind = bytearray(b"\x11"), bytearray(b"\x11")
    for offset, target in slots:
        if target == "rebase":
            rebase += b"\x21" + uleb(offset) + b"\x51"
        else:
            bind += b"\x40" + target.encode() + b"\0\x51\x71" + uleb(offset) + b"\x90"
    return bytes(rebase + b"\0"), bytes(bind + b"\0")


def chained(slots, pointer_format=6):
    """Chained fixups over the slots, one chain in __DATA's only page."""
    names = [target for _, target in slots if target != "rebase"]
    symbols = b"\0" + b"".join(n.encode() + b"\0" for n in names)
    imports = b"".join(struct.pack("<I", 1 | (1 + sum(len(m) + 1 for m in names[:k])) << 9) for k in range(len(names)))
    starts_segment = struct.pack("<IHHQIHH", 24, 0x4000, pointer_format, DATA, 0, 1, slots[0][0])
    starts_image = struct.pack("<III", 2, 0, 12)
    starts, imports_at = 28, 28 + len(starts_image) + len(starts_segment)
    header = struct.pack("<7I", 0, starts, imports_at, imports_at + len(imports), len(names), 1, 0)
    blob = header + starts_image + starts_segment + imports + symbols
    chain, ordinal = {}, 0
    for k, (offset, target) in enumerate(slots):
        step = (slots[k + 1][0] - offset) // 4 if k + 1 < len(slots) else 0
        if target == "rebase":
            chain[offset] = FUNCTION | step << 51
        else:
            chain[offset] = 1 << 63 | ordinal | step << 51
            ordinal += 1
    return blob, chain


def library(exports=(), pairs=(), libraries=(LIBSYSTEM,), form="classic", filetype=6, minos=12,
            data_segment="__DATA", replacement=FUNCTION, pointer_format=6, split=False, interpose_size=None):
    """A dynamic library; each pair is the replacee's symbol name, the
    replacement being a pointer into this library's own code. The pairs are
    one __interpose section in data_segment, or with split two: the first pair,
    then the rest."""
    slots = []
    for k, replacee in enumerate(pairs):
        slots += [(16 * k, "rebase" if isinstance(replacement, int) else replacement), (16 * k + 8, replacee)]
    data = bytearray(DATA + 0x1000 + 0x1000)
    for offset, target in slots:
        if target == "rebase":
            struct.pack_into("<Q", data, DATA + offset, replacement)
    trie = export_trie(list(exports))
    data[LINKEDIT:LINKEDIT + len(trie)] = trie
    blobs_at = LINKEDIT + 0x800
    text = segment("__TEXT", TEXT, 0x4000, [("__text", 0x1000, 0x100)])
    sections = [("__interpose", DATA, 16 * len(pairs) if interpose_size is None else interpose_size)]
    if split:
        sections = [("__interpose", DATA, 16), ("__interpose", DATA + 16, 16 * len(pairs) - 16)]
    if not pairs:
        sections = [("__data", DATA, 16)]
    commands = [text, segment(data_segment, DATA, 0x1000, sections)]
    commands += [dylib(name) for name in libraries]
    commands.append(struct.pack("<IIIIII", 0x32, 24, 1, minos << 16, minos << 16, 0))
    if form == "classic":
        rebase, bind = classic(slots)
        data[blobs_at:blobs_at + len(rebase) + len(bind)] = rebase + bind
        commands.append(struct.pack("<12I", 0x80000022, 48, blobs_at, len(rebase), blobs_at + len(rebase), len(bind),
                                    0, 0, 0, 0, LINKEDIT, len(trie)))
    else:
        commands.append(struct.pack("<IIII", 0x80000033, 16, LINKEDIT, len(trie)))
        if slots:
            blob, chain = chained(slots, pointer_format)
            data[blobs_at:blobs_at + len(blob)] = blob
            for offset, raw in chain.items():
                struct.pack_into("<Q", data, DATA + offset, raw)
            commands.append(struct.pack("<IIII", 0x80000034, 16, blobs_at, len(blob)))
    body = b"".join(commands)
    data[0:32 + len(body)] = struct.pack("<IiiIIIII", 0xFEEDFACF, 0x0100000C, 0, filetype, len(commands), len(body),
                                         0x100085, 0) + body
    return bytes(data)


def redirect(**changes):
    return library(pairs=changes.pop("pairs", ["_dlopen"]), **changes)


def simulation(**changes):
    return library(exports=changes.pop("exports", SIX), libraries=changes.pop("libraries", (LIBSYSTEM, COREFOUNDATION)),
                   **changes)


class MachoSimCheck(unittest.TestCase):
    def check(self, redirect_data, simulation_data):
        with tempfile.TemporaryDirectory() as scratch:
            paths = [os.path.join(scratch, "libmtredirect.dylib"), os.path.join(scratch, "libmultitouch_sim.dylib")]
            for path, data in zip(paths, (redirect_data, simulation_data)):
                with open(path, "wb") as out:
                    out.write(data)
            run = subprocess.run([sys.executable, CHECK] + paths, capture_output=True, text=True)
        return run.returncode, run.stderr

    def test_passes_both_as_the_linkers_lay_them_out(self):
        for form in ("classic", "chained"):
            with self.subTest(form):
                self.assertEqual(self.check(redirect(form=form), simulation(form=form)), (0, ""))
                self.assertEqual(self.check(redirect(pairs=["__exit", "_dlopen"], form=form), simulation()), (0, ""))
                # Every section counts, not only the first.
                self.assertEqual(self.check(redirect(pairs=["__exit", "_dlopen"], form=form, split=True),
                                            simulation()), (0, ""))

    def test_passes_the_section_in_any_segment_the_loader_reads_it_from(self):
        for segment in ("__DATA", "__DATA_CONST", "__DATA_DIRTY", "__AUTH", "__AUTH_CONST"):
            for form in ("classic", "chained"):
                with self.subTest(segment=segment, form=form):
                    self.assertEqual(self.check(redirect(data_segment=segment, form=form), simulation()), (0, ""))

    def test_rejects_the_section_in_a_segment_the_loader_does_not_read(self):
        for segment in ("__DAT", "_DATA", "__data", "__AUTX", "__LINKEDIT", "__OBJC"):
            with self.subTest(segment):
                status, err = self.check(redirect(data_segment=segment), simulation())
                self.assertEqual(status, 1)
                self.assertIn(f"libmtredirect.dylib: has an __interpose section in {segment}, where the loader", err)

    def test_rejects_a_redirect_that_would_not_replace_dlopen_with_its_own(self):
        cases = {
            "another function instead": redirect(pairs=["_dlsym"]),
            "... chained": redirect(pairs=["_dlsym", "_dlclose"], form="chained"),
            "a replacee slid, not bound": redirect(pairs=["_dlopen", "rebase"]),
            "a replacement outside its code": redirect(replacement=DATA + 0x40),
            "a replacement bound elsewhere": redirect(replacement="_dlopen"),
            "a replacement bound elsewhere, chained": redirect(replacement="_dlopen", form="chained"),
            "no interpose section": redirect(pairs=[]),
            "a part pair": redirect(pairs=["_dlopen", "__exit"], interpose_size=24),
            "a part pair, alone": redirect(interpose_size=8),
            "an empty section": redirect(interpose_size=0),
            "another library linked": redirect(libraries=(LIBSYSTEM, "/usr/lib/libz.1.dylib")),
            "macOS 13 at least": redirect(minos=13),
            "an executable": redirect(filetype=2),
            "pointers signed for arm64e": redirect(form="chained", pointer_format=1),
            "cut short": redirect()[:100],
        }
        for name, data in cases.items():
            with self.subTest(name):
                status, err = self.check(data, simulation())
                self.assertEqual(status, 1)
                self.assertIn("libmtredirect.dylib:", err)
                self.assertNotIn("libmultitouch_sim.dylib:", err)

    def test_rejects_a_simulation_short_of_a_function_or_off_the_platform(self):
        cases = {
            "a function missing": simulation(exports=SIX[:3] + SIX[4:]),
            "the stand-in linked": simulation(libraries=(LIBSYSTEM, "@rpath/libCoreFoundation.dylib")),
            "the stand-in built in": simulation(exports=SIX + ["_CFArrayCreate"], form="chained"),
            "the multitouch framework linked": simulation(
                libraries=(LIBSYSTEM, COREFOUNDATION, "/System/Library/PrivateFrameworks/MultitouchSupport.framework/"
                           "Versions/A/MultitouchSupport")),
        }
        for name, data in cases.items():
            with self.subTest(name):
                status, err = self.check(redirect(), data)
                self.assertEqual(status, 1)
                self.assertIn("libmultitouch_sim.dylib:", err)
                self.assertNotIn("libmtredirect.dylib:", err)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    CHECK = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
