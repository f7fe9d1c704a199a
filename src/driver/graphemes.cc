#include "driver/graphemes.h"

namespace {

constexpr char32_t invalid = 0xFFFFFFFF;

// The well-formed UTF-8 sequence that starts at text[at], as its code point
// and length; a byte that starts none is `invalid`, one byte long.
struct Decoded {
    char32_t c;
    std::size_t length;
};

Decoded decodeAt(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    unsigned lead = byte(at);
    std::size_t length;
    unsigned low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead < 0x80)
        return {lead, 1};
    else if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    else
        return {invalid, 1};

    char32_t c = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        unsigned next = byte(at + i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return {invalid, 1};
        c = c << 6 | (next & 0x3F);
    }
    return {c, length};
}

// The code point that ends just before text[at]. A lead byte is never a
// continuation byte, so a well-formed sequence ending there is the one a
// forward scan would have found.
char32_t decodeBefore(std::string_view text, std::size_t at) {
    for (std::size_t length = 1; length <= 4 && length <= at; ++length) {
        Decoded d = decodeAt(text, at - length);
        if (d.length == length && d.c != invalid)
            return d.c;
    }
    return invalid;
}

}  // namespace

Joining joiningOf(char32_t c) {
    std::size_t low = 0, high = joiningRangeCount;
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (c > joiningRanges[middle].last)
            low = middle + 1;
        else if (c < joiningRanges[middle].first)
            high = middle;
        else
            return joiningRanges[middle].joining;
    }
    return Joining::none;
}

bool standsAlone(std::string_view text, std::size_t at) {
    // ASCII holds no joining code point: only a multibyte neighbour can join.
    if (at > 0 && static_cast<unsigned char>(text[at - 1]) >= 0x80) {
        char32_t before = decodeBefore(text, at);
        if (before != invalid && joiningOf(before) == Joining::prepend)
            return false;
    }
    if (at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) >= 0x80) {
        Decoded after = decodeAt(text, at + 1);
        if (after.c != invalid) {
            Joining j = joiningOf(after.c);
            if (j == Joining::extend || j == Joining::zwj || j == Joining::spacingMark)
                return false;
        }
    }
    return true;
}
