#include "driver/step.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "driver/graphemes.h"
#include "driver/number.h"

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
        if (auto number = readDouble(text.substr(start, at - start), buffer)) {
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
