// The pattern run: reads the strength and every step from `arguments`, then
// plays the steps on a drift-free schedule and waits for the last tone.
#pragma once

#include <string_view>
#include <vector>

extern std::vector<std::string_view> arguments;

int runPattern();
