#!/usr/bin/env python3
"""Checks the simulated trackpad as built for a Mac: both files are Mach-O
arm64 dynamic libraries for macOS 12 or later; the redirect's interpose
entries, in every __interpose section of a __DATA* or __AUTH* segment, replace
dlopen, and whatever else they name, with functions of its own; the simulation
exports the six framework functions and links the platform's CoreFoundation,
nothing of the stand-ins and nothing beyond the C and C++ runtimes.

    macho-sim-check.py REDIRECT SIMULATION    exit 1 on a fault
"""
import importlib.util
import os
import struct
import sys

location = importlib.util.spec_from_file_location("macho_check", os.path.join(os.path.dirname(__file__), "macho-check.py"))
macho = importlib.util.module_from_spec(location)
location.loader.exec_module(macho)

LC_SEGMENT_64 = 0x19
LC_DYLD_INFO = 0x22
LC_DYLD_INFO_ONLY = 0x22 | macho.LC_REQ_DYLD
LC_DYLD_EXPORTS_TRIE = 0x33 | macho.LC_REQ_DYLD
LC_DYLD_CHAINED_FIXUPS = 0x34 | macho.LC_REQ_DYLD
LIBSYSTEM = "/usr/lib/libSystem.B.dylib"
FRAMEWORK_FUNCTIONS = ["_MTDeviceCreateList", "_MTDeviceGetDeviceID", "_MTActuatorCreateFromDeviceID",
                       "_MTActuatorOpen", "_MTActuationCreateFromDictionary", "_MTActuationActuate"]


def uleb(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def sleb(data, at):
    value, end = uleb(data, at)
    bits = 7 * (end - at)
    return (value - (1 << bits) if value >> (bits - 1) & 1 else value), end


class Image:
    """What the loader reads of a dynamic library: its segments and sections,
    exported names, the pointers it binds to imported symbols (address to
    name) and those it slides (address to target)."""

    def __init__(self, data):
        self.data = data
        self.libraries, self.oldest, self.signed = macho.load_commands(data, macho.MH_DYLIB)
        self.segments = []  # (name, vmaddr, vmsize, fileoff, sections); a section is (name, addr, size)
        self.exports, self.binds, self.rebases = set(), {}, {}
        info = chained = trie = None
        for cmd, offset, _ in macho.commands(data, macho.MH_DYLIB):
            if cmd == LC_SEGMENT_64:
                self.read_segment(offset)
            elif cmd in (LC_DYLD_INFO, LC_DYLD_INFO_ONLY):
                info = struct.unpack_from("<10I", data, offset + 8)
            elif cmd == LC_DYLD_CHAINED_FIXUPS:
                chained = struct.unpack_from("<II", data, offset + 8)
            elif cmd == LC_DYLD_EXPORTS_TRIE:
                trie = struct.unpack_from("<II", data, offset + 8)
        if info:
            self.read_rebases(*info[0:2])
            self.read_binds(*info[2:4])
            trie = trie or info[8:10]
        if chained:
            self.read_chained_fixups(*chained)
        if trie:
            self.read_exports(*trie)

    def read_segment(self, offset):
        name, vmaddr, vmsize, fileoff, _, _, _, nsects, _ = struct.unpack_from("<16sQQQQiiII", self.data, offset + 8)
        sections = []
        for k in range(nsects):
            sectname, _, addr, size = struct.unpack_from("<16s16sQQ", self.data, offset + 72 + 80 * k)
            sections.append((sectname.rstrip(b"\0").decode(), addr, size))
        self.segments.append((name.rstrip(b"\0").decode(), vmaddr, vmsize, fileoff, sections))

    def pointer_at(self, address):
        """The 64-bit value stored in the file at a virtual address."""
        for _, vmaddr, vmsize, fileoff, _ in self.segments:
            if vmaddr <= address < vmaddr + vmsize:
                return struct.unpack_from("<Q", self.data, fileoff + address - vmaddr)[0]
        raise ValueError(f"address {address:#x} lies in no segment")

    def segment_address(self, index, offset):
        if index >= len(self.segments):
            raise ValueError(f"fixup in segment {index}, of {len(self.segments)}")
        return self.segments[index][1] + offset

    def read_rebases(self, start, size):
        data, at, end = self.data, start, start + size
        segment = address = 0
        while at < end:
            opcode, immediate = data[at] & 0xF0, data[at] & 0x0F
            at += 1
            if opcode == 0x00:  # done
                break
            if opcode == 0x20:  # segment and offset
                segment = immediate
                offset, at = uleb(data, at)
                address = self.segment_address(segment, offset)
            elif opcode == 0x30:  # add address
                step, at = uleb(data, at)
                address += step
            elif opcode == 0x40:  # add address, scaled
                address += immediate * 8
            elif opcode in (0x50, 0x60, 0x70, 0x80):
                count, skip = immediate, 0
                if opcode in (0x60, 0x80):
                    count, at = uleb(data, at)
                if opcode == 0x70:
                    count = 1
                    skip, at = uleb(data, at)
                elif opcode == 0x80:
                    skip, at = uleb(data, at)
                for _ in range(count):
                    self.rebases[address] = self.pointer_at(address)
                    address += 8 + skip
            elif opcode != 0x10:  # anything but the pointer type
                raise ValueError(f"unknown rebase opcode {opcode:#x}")

    def read_binds(self, start, size):
        data, at, end = self.data, start, start + size
        name, address = None, 0
        while at < end:
            opcode, immediate = data[at] & 0xF0, data[at] & 0x0F
            at += 1
            if opcode == 0x00:  # done
                break
            if opcode == 0x20:  # library ordinal
                _, at = uleb(data, at)
            elif opcode == 0x40:  # symbol name
                close = data.index(b"\0", at)
                name, at = data[at:close].decode(), close + 1
            elif opcode == 0x60:  # addend
                _, at = sleb(data, at)
            elif opcode == 0x70:  # segment and offset
                offset, at = uleb(data, at)
                address = self.segment_address(immediate, offset)
            elif opcode == 0x80:  # add address
                step, at = uleb(data, at)
                address = (address + step) & 0xFFFFFFFFFFFFFFFF
            elif opcode in (0x90, 0xA0, 0xB0, 0xC0):
                count, skip = 1, 0
                if opcode == 0xA0:
                    skip, at = uleb(data, at)
                elif opcode == 0xB0:
                    skip = immediate * 8
                elif opcode == 0xC0:
                    count, at = uleb(data, at)
                    skip, at = uleb(data, at)
                for _ in range(count):
                    self.binds[address] = name
                    address = (address + 8 + skip) & 0xFFFFFFFFFFFFFFFF
            elif opcode not in (0x10, 0x30, 0x50):  # ordinal or type, given inline
                raise ValueError(f"unknown bind opcode {opcode:#x}")

    def read_chained_fixups(self, start, size):
        data = self.data
        _, starts, imports, symbols, count, imports_format, symbols_format = struct.unpack_from("<7I", data, start)
        if symbols_format != 0:
            raise ValueError("compressed chained-fixup symbols")
        names = []
        for k in range(count):
            if imports_format == 1:
                (entry,) = struct.unpack_from("<I", data, start + imports + 4 * k)
                name_offset = entry >> 9
            elif imports_format == 2:
                (entry,) = struct.unpack_from("<I", data, start + imports + 8 * k)
                name_offset = entry >> 9
            elif imports_format == 3:
                (entry,) = struct.unpack_from("<Q", data, start + imports + 16 * k)
                name_offset = entry >> 32
            else:
                raise ValueError(f"unknown chained import format {imports_format}")
            at = start + symbols + name_offset
            names.append(data[at:data.index(b"\0", at)].decode())
        base = next((vmaddr for _, vmaddr, _, fileoff, _ in self.segments if fileoff == 0), 0)
        (segment_count,) = struct.unpack_from("<I", data, start + starts)
        for index in range(segment_count):
            (info,) = struct.unpack_from("<I", data, start + starts + 4 + 4 * index)
            if info == 0:
                continue
            at = start + starts + info
            _, page_size, pointer_format, _, _, page_count = struct.unpack_from("<IHHQIH", data, at)
            if pointer_format not in (2, 6):  # 64-bit pointers, by address or by offset from the image
                raise ValueError(f"unsupported chained pointer format {pointer_format}")
            for page in range(page_count):
                (first,) = struct.unpack_from("<H", data, at + 22 + 2 * page)
                if first == 0xFFFF:
                    continue
                address = self.segment_address(index, page * page_size + first)
                while True:
                    raw = self.pointer_at(address)
                    if raw >> 63:
                        ordinal = raw & 0xFFFFFF
                        if ordinal >= len(names):
                            raise ValueError(f"chained bind to import {ordinal}, of {len(names)}")
                        self.binds[address] = names[ordinal]
                    else:
                        target = raw & 0xFFFFFFFFF
                        self.rebases[address] = target + base if pointer_format == 6 else target
                    step = (raw >> 51) & 0xFFF
                    if step == 0:
                        break
                    address += 4 * step

    def read_exports(self, start, size):
        if size == 0:
            return
        nodes, seen = [(0, "")], set()
        while nodes:
            node, prefix = nodes.pop()
            if node in seen or node >= size:
                raise ValueError("malformed export trie")
            seen.add(node)
            terminal, at = uleb(self.data, start + node)
            if terminal:
                self.exports.add(prefix)
            at += terminal
            children = self.data[at]
            at += 1
            for _ in range(children):
                close = self.data.index(b"\0", at)
                label = self.data[at:close].decode()
                child, at = uleb(self.data, close + 1)
                nodes.append((child, prefix + label))

    def sections(self, name):
        """Every section of that name, as (segment, addr, size), in order."""
        return [(segment, addr, size) for segment, _, _, _, sections in self.segments
                for sectname, addr, size in sections if sectname == name]

    def section(self, name):
        found = self.sections(name)
        return found[0] if found else None


def common_faults(image, allowed):
    faults = []
    if image.oldest is None:
        faults.append("names no macOS version")
    elif image.oldest > macho.FLOOR_MACOS:
        faults.append(f"needs macOS {image.oldest[0]}.{image.oldest[1]}")
    for _, name in image.libraries:
        if name not in allowed:
            faults.append(f"links {name}")
    return faults


def redirect_faults(image):
    # CoreFoundation too: its replacements of the create calls call the real ones.
    faults = common_faults(image, macho.ALLOWED)
    # dyld applies every __interpose section in a segment whose name begins
    # with __DATA or __AUTH, and refuses an image where one holds a part pair.
    found = image.sections("__interpose")
    if not found:
        return faults + ["has no __interpose section"]
    applied, misplaced = [], []
    for segment, addr, size in found:
        if not segment.startswith(("__DATA", "__AUTH")):
            misplaced.append(f"has an __interpose section in {segment}, where the loader does not look")
        elif size == 0 or size % 16:
            misplaced.append(f"has a {segment},__interpose section of {size} bytes, not whole pairs")
        else:
            applied.append((addr, size))
    if misplaced:
        return faults + misplaced
    text = image.section("__text")
    replacees = []
    for pair in (at for addr, size in applied for at in range(addr, addr + size, 16)):
        replacement, replacee = image.rebases.get(pair), image.binds.get(pair + 8)
        replacees.append(replacee)
        if replacee is None:
            faults.append(f"interposes an unbound pointer at {pair + 8:#x}")
        if replacement is None or not text or not text[1] <= replacement < text[1] + text[2]:
            faults.append(f"replaces {replacee} with no function of its own")
    if "_dlopen" not in replacees:
        faults.append("does not interpose _dlopen")
    image.interposed = replacees
    return faults


def simulation_faults(image):
    faults = common_faults(image, macho.ALLOWED)
    if macho.COREFOUNDATION not in (name for _, name in image.libraries):
        faults.append("does not link CoreFoundation")
    missing = [name for name in FRAMEWORK_FUNCTIONS if name not in image.exports]
    if missing:
        faults.append("does not export " + ", ".join(missing))
    carried = sorted(name for name in image.exports if name.startswith(("_CF", "_kCF")))
    if carried:
        faults.append("carries CoreFoundation itself: " + ", ".join(carried[:3]))
    return faults


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    status = 0
    for path, faults_of in ((sys.argv[1], redirect_faults), (sys.argv[2], simulation_faults)):
        with open(path, "rb") as library:
            data = library.read()
        try:
            image = Image(data)
            faults = faults_of(image)
        except (ValueError, IndexError, UnicodeDecodeError, struct.error) as fault:
            faults = [str(fault)]
        for fault in faults:
            print(f"macho-sim-check: {path}: {fault}", file=sys.stderr)
        if faults:
            status = 1
        else:
            what = ("interposes " + ", ".join(image.interposed) if faults_of == redirect_faults
                    else "exports the six functions, links CoreFoundation")
            print(f"macho-sim-check: {path}: Mach-O arm64 dynamic library for macOS "
                  f"{image.oldest[0]}.{image.oldest[1]} or later; {what}")
    return status


if __name__ == "__main__":
    sys.exit(main())
