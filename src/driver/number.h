// Number texts: the one rule every number on the command line follows. Not
// empty, no leading blank, and wholly read by the C library in the C locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// `scratch` holds the terminated copy the C library needs; passing the same
// one again saves an allocation per text.
std::optional<double> readDouble(std::string_view text, std::string& scratch);
std::optional<float> readFloat(std::string_view text, std::string& scratch);
