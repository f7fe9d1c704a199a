#include "macho.h"

#include <cstring>
#include <string_view>

namespace {

// The loader's records, defined here so that this compiles, and is tested,
// where there is no Mach-O header to include.
const uint32_t magic64 = 0xfeedfacf;
const uint32_t segmentCommand64 = 0x19;

struct Header {
    uint32_t magic;
    int32_t cpuType, cpuSubtype;
    uint32_t fileType, commandCount, commandBytes, flags, reserved;
};

struct Command {
    uint32_t kind, bytes;
};

struct Segment {
    uint32_t kind, bytes;
    char name[16];
    uint64_t address, addressBytes, fileOffset, fileBytes;
    int32_t maxProtection, protection;
    uint32_t sectionCount, flags;
};

struct Section {
    char name[16], segmentName[16];
    uint64_t address, bytes;
    uint32_t fileOffset, align, relocationOffset, relocationCount, flags, reserved[3];
};

static_assert(sizeof(Header) == 32 && sizeof(Segment) == 72 && sizeof(Section) == 80);

std::string_view nameOf(const char (&name)[16]) {
    return {name, strnlen(name, sizeof name)};
}

// Calls `each` with every segment command and its first section; false when
// the header is no 64-bit Mach-O one or a command does not fit in the space
// the header gives its commands.
template <typename Each>
bool forEachSegment(const void* image, Each each) {
    Header header;
    memcpy(&header, image, sizeof header);
    if (header.magic != magic64)
        return false;
    const char* at = static_cast<const char*>(image) + sizeof header;
    size_t left = header.commandBytes;
    for (uint32_t i = 0; i < header.commandCount; ++i) {
        Command command;
        if (left < sizeof command)
            return false;
        memcpy(&command, at, sizeof command);
        if (command.bytes < sizeof command || command.bytes > left)
            return false;
        if (command.kind == segmentCommand64) {
            Segment segment;
            if (command.bytes < sizeof segment)
                return false;
            memcpy(&segment, at, sizeof segment);
            if (segment.sectionCount > (command.bytes - sizeof segment) / sizeof(Section))
                return false;
            each(segment, at + sizeof segment);
        }
        at += command.bytes;
        left -= command.bytes;
    }
    return true;
}

}  // namespace

AddressRange mappedText(const void* header) {
    AddressRange text;
    forEachSegment(header, [&](const Segment& segment, const char*) {
        if (nameOf(segment.name) == "__TEXT") {
            text.first = reinterpret_cast<uintptr_t>(header);
            text.end = text.first + uintptr_t(segment.addressBytes);
        }
    });
    return text;
}

bool interposePairs(const void* header, std::vector<InterposePair>& pairs) {
    pairs.clear();
    // Where the image lies against the addresses it was linked for: its
    // __TEXT segment maps the file's start, the header.
    bool hasText = false;
    uintptr_t slide = 0;
    forEachSegment(header, [&](const Segment& segment, const char*) {
        if (nameOf(segment.name) == "__TEXT") {
            hasText = true;
            slide = reinterpret_cast<uintptr_t>(header) - uintptr_t(segment.address);
        }
    });
    bool whole = hasText;
    auto read = [&](const Segment& segment, const char* sections) {
        std::string_view name = nameOf(segment.name);
        if (name.substr(0, 6) != "__DATA" && name.substr(0, 6) != "__AUTH")
            return;
        for (uint32_t k = 0; k < segment.sectionCount; ++k) {
            Section section;
            memcpy(&section, sections + k * sizeof section, sizeof section);
            if (nameOf(section.name) != "__interpose")
                continue;
            if (section.bytes % sizeof(InterposePair) != 0)
                whole = false;
            for (uint64_t at = 0; whole && at < section.bytes; at += sizeof(InterposePair)) {
                InterposePair pair;
                memcpy(&pair, reinterpret_cast<const void*>(uintptr_t(section.address + at) + slide), sizeof pair);
                pairs.push_back(pair);
            }
        }
    };
    if (!forEachSegment(header, read) || !whole) {
        pairs.clear();
        return false;
    }
    return true;
}
