// Feeds arbitrary bytes to the step conversion. Every Step it returns must obey
// the checks and ceilings, and the result must match a plain reference that
// decodes the whole text forward, one code point at a time.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <vector>

#include "driver/graphemes.h"
#include "driver/step.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "step_fuzz: %s\n", what);
        abort();
    }
}

// One character of the text: a code point with its byte span, or a byte that
// is not valid UTF-8 (c = -1).
struct Character {
    long c;
    size_t at, length;
};

std::vector<Character> characters(const unsigned char* s, size_t n) {
    std::vector<Character> out;
    for (size_t i = 0; i < n;) {
        unsigned b = s[i];
        size_t length = b < 0x80                 ? 1
                        : b >= 0xC2 && b <= 0xDF ? 2
                        : b >= 0xE0 && b <= 0xEF ? 3
                        : b >= 0xF0 && b <= 0xF4 ? 4
                                                 : 0;
        long c = -1;
        if (length == 1) {
            c = b;
        } else if (length > 1 && i + length <= n) {
            long v = b & (0x7F >> length);
            bool ok = true;
            for (size_t k = 1; k < length; ++k) {
                ok = ok && (s[i + k] & 0xC0) == 0x80;
                v = v << 6 | (s[i + k] & 0x3F);
            }
            // Overlong forms, surrogates and values past U+10FFFF are no code points.
            long least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
            if (ok && v >= least && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF))
                c = v;
        }
        if (c < 0)
            length = 1;
        out.push_back({c, i, length});
        i += length;
    }
    return out;
}

Joining joining(const Character& ch) {
    return ch.c < 0 ? Joining::none : joiningOf(char32_t(ch.c));
}

std::optional<Step> reference(const unsigned char* s, size_t n) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    std::vector<Character> chars = characters(s, n);
    std::vector<double> numbers;
    size_t start = 0;
    for (size_t k = 0; k <= chars.size(); ++k) {
        size_t end = k < chars.size() ? chars[k].at : n;
        if (k < chars.size()) {
            if (chars[k].c != ':')
                continue;
            if (k > 0 && joining(chars[k - 1]) == Joining::prepend)
                continue;
            if (k + 1 < chars.size()) {
                Joining j = joining(chars[k + 1]);
                if (j == Joining::extend || j == Joining::zwj || j == Joining::spacingMark)
                    continue;
            }
        }
        std::string piece(reinterpret_cast<const char*>(s) + start, end - start);
        start = end + 1;
        if (piece.empty() || strchr("\t\n\v\f\r ", piece[0]))
            continue;
        char* stop;
        double value = strtod_l(piece.c_str(), &stop, cLocale);
        if (stop == piece.c_str() + piece.size())
            numbers.push_back(value);
    }
    if (numbers.size() != 4)
        return std::nullopt;
    for (double v : numbers)
        if (!std::isfinite(v) || v < 0)
            return std::nullopt;
    return Step{numbers[0], numbers[1], float(numbers[2] < 1 ? numbers[2] : 1), numbers[3] < 5000 ? numbers[3] : 5000};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<Step> step = parseStep({reinterpret_cast<const char*>(data), size});
    if (step) {
        check(std::isfinite(step->hz) && !(step->hz < 0), "hz");
        check(std::isfinite(step->ms) && !(step->ms < 0), "ms");
        check(std::isfinite(step->level) && !(step->level < 0) && step->level <= 1, "level");
        check(std::isfinite(step->wait) && !(step->wait < 0) && step->wait <= 5000, "wait");
    }
    std::optional<Step> expected = reference(data, size);
    check(step.has_value() == expected.has_value(), "accepted differently from the reference");
    if (step && expected) {
        // Bit for bit, so that negative zero is told from zero.
        bool same = std::bit_cast<uint64_t>(step->hz) == std::bit_cast<uint64_t>(expected->hz) &&
                    std::bit_cast<uint64_t>(step->ms) == std::bit_cast<uint64_t>(expected->ms) &&
                    std::bit_cast<uint32_t>(step->level) == std::bit_cast<uint32_t>(expected->level) &&
                    std::bit_cast<uint64_t>(step->wait) == std::bit_cast<uint64_t>(expected->wait);
        check(same, "a different step from the reference");
    }
    return 0;
}
