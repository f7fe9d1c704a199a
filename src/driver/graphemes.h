// Graphemes: whether one ASCII character of UTF-8 text is a user-perceived
// character of its own (an extended grapheme cluster), from its two neighbours.
#pragma once

#include <cstddef>
#include <string_view>

// The Grapheme_Cluster_Break classes that join a character to a neighbour;
// every other code point is `none` as far as an ASCII neighbour can tell.
enum class Joining : unsigned char { none, prepend, extend, zwj, spacingMark };

struct JoiningRange {
    char32_t first, last;
    Joining joining;
};

// The generated table: sorted, disjoint, adjacent ranges of one class merged.
extern const JoiningRange joiningRanges[];
extern const std::size_t joiningRangeCount;
extern const char graphemeUnicodeVersion[];

Joining joiningOf(char32_t c);

// True when text[at], an ASCII byte, forms a cluster alone: the code point
// after it neither extends it (Extend, ZWJ, SpacingMark) nor is it preceded
// by a Prepend code point. A byte that is not valid UTF-8 joins nothing.
bool standsAlone(std::string_view text, std::size_t at);
