// The pattern run: reads the strength and every step from `arguments`, then
// plays the steps on a drift-free schedule and waits for the last tone.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

#include "driver/step.h"

// Instants of the schedule: seconds on the monotonic clock, in 64-bit floating
// point, so that waits in milliseconds add up without rounding to ticks.
using Clock = std::chrono::steady_clock;
using Instant = std::chrono::time_point<Clock, std::chrono::duration<double>>;

extern std::vector<std::string_view> arguments;
extern float strength;
extern std::vector<Step> steps;
extern Instant last;

// Reads the whole command line, plays it and returns the exit status, 0.
int runPattern();

// The strength text as the nearest 32-bit value, clamped to 0..1, or nothing
// when it is not one whole finite number. Pure, like parseStep.
std::optional<float> parseStrength(std::string_view text);

// The first tick of the clock at or after `instant`; the clock's last tick
// when `instant` lies beyond what the clock can count.
Clock::time_point clockTick(Instant instant);

// Returns once `deadline` has passed, at once if it already has. A deadline
// beyond the clock's range blocks until the process is stopped.
void blockUntil(Instant deadline);
