#include "driver/step.h"

std::optional<Step> parseStep(std::string_view) {
    return std::nullopt;
}
