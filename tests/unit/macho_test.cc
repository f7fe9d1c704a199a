// Reading a mapped Mach-O image, on images built here byte by byte: which
// interpose sections the loader applies, and where the code lies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "macho.h"

namespace {

// Where each image's __TEXT was linked for; the image itself lies elsewhere.
const uint64_t linkedAt = 0x100000000;
const size_t contentsAt = 0x400;

struct SectionLayout {
    std::string segment, name;
    uint64_t bytes;
};

struct Image {
    std::vector<uint64_t> words = std::vector<uint64_t>(0x100);  // 2 KiB, aligned for pointers
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(words.data()); }
    const void* header() { return words.data(); }
};

void put32(unsigned char*& at, uint32_t value) {
    memcpy(at, &value, 4);
    at += 4;
}

void put64(unsigned char*& at, uint64_t value) {
    memcpy(at, &value, 8);
    at += 8;
}

void putName(unsigned char*& at, const std::string& name) {
    memset(at, 0, 16);
    memcpy(at, name.data(), std::min<size_t>(name.size(), 16));
    at += 16;
}

void putSegment(unsigned char*& at, const std::string& name, uint64_t address, uint64_t bytes,
                const std::vector<SectionLayout>& sections, const std::vector<uint64_t>& addresses) {
    put32(at, 0x19);
    put32(at, uint32_t(72 + 80 * sections.size()));
    putName(at, name);
    for (uint64_t value : {address, bytes, uint64_t(0), bytes})
        put64(at, value);
    for (uint32_t value : {7u, 3u, uint32_t(sections.size()), 0u})
        put32(at, value);
    for (size_t k = 0; k < sections.size(); ++k) {
        putName(at, sections[k].name);
        putName(at, name);
        put64(at, addresses[k]);
        put64(at, sections[k].bytes);
        for (int field = 0; field < 8; ++field)
            put32(at, 0);
    }
}

// An image with a __TEXT segment of 0x4000 bytes (unless `text` is false) and
// each section in a segment command of its own; `contents` fill the sections
// one after the other from `contentsAt`.
Image build(const std::vector<SectionLayout>& sections, const std::vector<InterposePair>& contents, bool text = true) {
    Image image;
    unsigned char* at = image.bytes() + 32;
    if (text)
        putSegment(at, "__TEXT", linkedAt, 0x4000, {}, {});
    uint64_t offset = contentsAt;
    for (auto& section : sections) {
        putSegment(at, section.segment, linkedAt + offset, section.bytes, {section}, {linkedAt + offset});
        offset += section.bytes;
    }
    unsigned char* header = image.bytes();
    for (uint32_t value : {0xfeedfacfu, 0x0100000cu, 0u, 6u, uint32_t(sections.size() + text),
                           uint32_t(at - image.bytes() - 32), 0u, 0u})
        put32(header, value);
    memcpy(image.bytes() + contentsAt, contents.data(), contents.size() * sizeof(InterposePair));
    return image;
}

std::vector<std::pair<const void*, const void*>> plain(const std::vector<InterposePair>& pairs) {
    std::vector<std::pair<const void*, const void*>> out;
    for (auto& pair : pairs)
        out.push_back({pair.replacement, pair.replacee});
    return out;
}

int a, b, c, d, e, f;
const std::vector<InterposePair> three = {{&a, &b}, {&c, &d}, {&e, &f}};

TEST(Interpose, EverySectionInADataOrAuthSegmentGivesAllItsPairsInOrder) {
    for (const char* segment : {"__DATA", "__DATA_CONST", "__DATA_DIRTY", "__AUTH", "__AUTH_CONST"}) {
        Image image = build({{segment, "__interpose", 32}, {"__AUTH_CONST", "__interpose", 16}}, three);
        std::vector<InterposePair> pairs;
        ASSERT_TRUE(interposePairs(image.header(), pairs)) << segment;
        EXPECT_EQ(plain(pairs), plain(three)) << segment;
    }
}

TEST(Interpose, SectionsTheLoaderDoesNotApplyGiveNothing) {
    for (const char* segment : {"__TEXT", "__LINKEDIT", "__DAT", "_DATA", "__data", "__AUTX", ""}) {
        Image image = build({{segment, "__interpose", 16}}, three);
        std::vector<InterposePair> pairs = three;
        EXPECT_TRUE(interposePairs(image.header(), pairs)) << segment;
        EXPECT_TRUE(pairs.empty()) << segment;
    }
    for (const char* name : {"__interpos", "__interpose_x", "__data"}) {
        Image image = build({{"__DATA", name, 16}}, three);
        std::vector<InterposePair> pairs;
        EXPECT_TRUE(interposePairs(image.header(), pairs)) << name;
        EXPECT_TRUE(pairs.empty()) << name;
    }
    // A part pair where the loader does not look is no fault either.
    Image elsewhere = build({{"__TEXT", "__interpose", 8}}, three);
    std::vector<InterposePair> pairs;
    EXPECT_TRUE(interposePairs(elsewhere.header(), pairs));
}

TEST(Interpose, APartPairOrAnImageTheLoaderWouldRefuseGivesNone) {
    std::vector<Image> refused;
    for (uint64_t bytes : {8, 24})
        refused.push_back(build({{"__DATA", "__interpose", 16}, {"__DATA_CONST", "__interpose", bytes}}, three));
    refused.push_back(build({{"__DATA", "__interpose", 16}}, three, false));  // no __TEXT
    Image thin = build({{"__DATA", "__interpose", 16}}, three);
    thin.bytes()[0] = 0xce;  // 32-bit
    refused.push_back(thin);
    Image cramped = build({{"__DATA", "__interpose", 16}}, three);
    cramped.bytes()[20] -= 1;  // the commands overrun the space given for them
    refused.push_back(cramped);
    Image crowded = build({{"__DATA", "__interpose", 16}}, three);
    crowded.bytes()[32 + 72 + 64] = 2;  // two sections in the space of one
    refused.push_back(crowded);
    for (size_t k = 0; k < refused.size(); ++k) {
        std::vector<InterposePair> pairs = three;
        EXPECT_FALSE(interposePairs(refused[k].header(), pairs)) << k;
        EXPECT_TRUE(pairs.empty()) << k;
    }
}

TEST(MappedText, RunsFromTheHeaderForTheSegmentsLength) {
    Image image = build({{"__DATA", "__interpose", 16}}, three);
    AddressRange text = mappedText(image.header());
    EXPECT_EQ(text.first, reinterpret_cast<uintptr_t>(image.header()));
    EXPECT_EQ(text.end - text.first, 0x4000u);
    Image none = build({{"__DATA", "__interpose", 16}}, three, false);
    EXPECT_EQ(mappedText(none.header()).end, 0u);
}

}  // namespace
