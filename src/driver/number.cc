#include "driver/number.h"

#include <cstdlib>
#include <locale.h>
#ifdef __APPLE__
#include <xlocale.h>
#endif

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

// The text is only a view, and what follows it is not ours to read: the
// conversion runs on a terminated copy. A NUL inside stops the conversion
// early, so such a text is never read whole.
template <typename Number>
std::optional<Number> read(std::string_view text, std::string& scratch,
                           Number (*convert)(const char*, char**, locale_t)) {
    if (text.empty() || isBlank(text.front()) || !cLocale())
        return std::nullopt;
    scratch.assign(text);
    char* end = nullptr;
    Number value = convert(scratch.c_str(), &end, cLocale());
    if (end != scratch.c_str() + scratch.size())
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> readDouble(std::string_view text, std::string& scratch) {
    return read<double>(text, scratch, strtod_l);
}

// Straight to 32 bits: going by way of a double rounds twice, and the two
// roundings differ from one for some texts.
std::optional<float> readFloat(std::string_view text, std::string& scratch) {
    return read<float>(text, scratch, strtof_l);
}
