// Step: one tone and the wait before the next, and its conversion from the
// text "hz:ms:level:wait". The conversion is pure: a Step or nothing.
#pragma once

#include <optional>
#include <string_view>

struct Step {
    double hz;    // frequency, hertz; finite, not below zero
    double ms;    // tone duration, milliseconds; finite, not below zero
    float level;  // intensity, 0 to 1
    double wait;  // from this step's start to the next one's, milliseconds; 0 to 5000
};

std::optional<Step> parseStep(std::string_view text);
