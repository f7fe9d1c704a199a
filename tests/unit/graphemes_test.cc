#include "driver/graphemes.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | c >> 6);
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | c >> 12);
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | c >> 18);
        out += char(0x80 | (c >> 12 & 0x3F));
        out += char(0x80 | (c >> 6 & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
    return out;
}

// Whether neighbouring ranges are merged is the generator's business, checked
// by regenerating the table.
TEST(Graphemes, TableIsSortedAndDisjoint) {
    ASSERT_GT(joiningRangeCount, 0u);
    for (std::size_t i = 0; i < joiningRangeCount; ++i) {
        const JoiningRange& r = joiningRanges[i];
        EXPECT_LE(r.first, r.last) << i;
        EXPECT_NE(r.joining, Joining::none) << i;
        if (i > 0) {
            const JoiningRange& before = joiningRanges[i - 1];
            EXPECT_LT(before.last, r.first) << i;
        }
    }
}

TEST(Graphemes, LookupAgreesWithTheTableEverywhere) {
    std::size_t next = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        while (next < joiningRangeCount && joiningRanges[next].last < c)
            ++next;
        Joining expected =
            next < joiningRangeCount && joiningRanges[next].first <= c ? joiningRanges[next].joining : Joining::none;
        ASSERT_EQ(joiningOf(c), expected) << std::hex << unsigned(c);
    }
    EXPECT_EQ(joiningOf(0xFFFFFFFF), Joining::none);
}

TEST(Graphemes, AtTheEdgesOfTheText) {
    EXPECT_TRUE(standsAlone(":", 0));
    EXPECT_FALSE(standsAlone(":\u0301", 0));
    EXPECT_FALSE(standsAlone("\u0600:", 2));
    EXPECT_TRUE(standsAlone("\u0301:", 2));
    EXPECT_TRUE(standsAlone(":\u0600", 0));
    // Only a complete sequence joins: a view that ends inside one does not.
    EXPECT_TRUE(standsAlone(std::string_view(":\u0903", 3), 0));
}

// The official break tests, with ":" in place of every SPACE (both are of
// class Other): wherever a space stood alone, a ":" must stand alone.
TEST(Graphemes, AgreesWithTheUnicodeBreakTests) {
    std::ifstream in("/usr/share/unicode/auxiliary/GraphemeBreakTest.txt");
    if (!in)
        GTEST_SKIP() << "GraphemeBreakTest.txt is not installed";
    std::string line;
    int checked = 0;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::string text, field;
        std::vector<std::size_t> spaces;
        std::vector<bool> breakBefore;  // before each code point, then at the end
        while (fields >> field) {
            if (field == "\xC3\xB7")  // division sign: a break
                breakBefore.push_back(true);
            else if (field == "\xC3\x97")  // multiplication sign: no break
                breakBefore.push_back(false);
            else {
                char32_t c = char32_t(std::stoul(field, nullptr, 16));
                if (c == 0x20) {
                    spaces.push_back(breakBefore.size() - 1);
                    c = ':';
                }
                text += utf8(c);
            }
        }
        // Map each code point index to its byte offset.
        std::vector<std::size_t> offsets;
        for (std::size_t i = 0; i < text.size(); ++i)
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
                offsets.push_back(i);
        for (std::size_t k : spaces) {
            bool alone = breakBefore[k] && breakBefore[k + 1];
            EXPECT_EQ(standsAlone(text, offsets[k]), alone) << line;
            ++checked;
        }
    }
    EXPECT_GT(checked, 50);
}

}  // namespace
