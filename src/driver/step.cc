#include "driver/step.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>
#ifdef __APPLE__
#include <xlocale.h>
#endif

#include "driver/graphemes.h"

namespace {

// Numbers are read in the C locale whatever the user's environment says.
// Without the locale object nothing is a number, so nothing is misread.
locale_t cLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    return c;
}

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A piece is a number when it is not empty, does not begin with a blank and
// strtod reads all of it. strtod needs a terminated copy: the piece is only a
// view, and what follows it is not ours to read.
std::optional<double> toNumber(std::string_view piece, std::string& buffer) {
    if (piece.empty() || isBlank(piece.front()) || !cLocale())
        return std::nullopt;
    buffer.assign(piece);
    char* end = nullptr;
    double value = strtod_l(buffer.c_str(), &end, cLocale());
    if (end != buffer.c_str() + buffer.size())
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<Step> parseStep(std::string_view text) {
    double numbers[4];
    std::size_t count = 0;
    std::string buffer;

    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t at = text.find(':', start);
        while (at != std::string_view::npos && !standsAlone(text, at))
            at = text.find(':', at + 1);
        if (at == std::string_view::npos)
            at = text.size();
        if (auto number = toNumber(text.substr(start, at - start), buffer)) {
            if (count < 4)
                numbers[count] = *number;
            ++count;
        }
        start = at + 1;
    }

    if (count != 4)
        return std::nullopt;
    for (double n : numbers)
        if (!std::isfinite(n) || n < 0)
            return std::nullopt;
    return Step{numbers[0], numbers[1], static_cast<float>(std::min(numbers[2], 1.0)), std::min(numbers[3], 5000.0)};
}
