#include "driver/run.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>

#include "driver/number.h"
#include "fail.h"
#include "haptics/play.h"

std::vector<std::string_view> arguments;
float strength;
std::vector<Step> steps;
Instant last;

std::optional<float> parseStrength(std::string_view text) {
    // A leading NUL is no number either: the conversion stops at it at once.
    std::string scratch;
    std::optional<float> read = readFloat(text, scratch);
    if (!read || !std::isfinite(*read))
        return std::nullopt;
    float value = *read;
    if (value < 0)
        value = 0;
    if (value > 1)
        value = 1;
    return value;
}

Clock::time_point clockTick(Instant instant) {
    double ticks = std::ceil(std::chrono::duration<double, Clock::period>(instant.time_since_epoch()).count());
    // The clock counts ticks in a 64-bit integer; converting a double at or
    // beyond its range would overflow, so such instants saturate instead.
    if (!(ticks < static_cast<double>(Clock::duration::max().count())))
        return Clock::time_point::max();
    if (ticks < static_cast<double>(Clock::duration::min().count()))
        return Clock::time_point::min();
    return Clock::time_point(Clock::duration(static_cast<Clock::rep>(ticks)));
}

void blockUntil(Instant deadline) {
    // No single sleep asks for more than an hour, which keeps every request
    // well inside what the system's timers accept, however far the deadline.
    constexpr std::chrono::hours longest(1);
    for (auto now = Clock::now(); Instant(now) < deadline; now = Clock::now())
        std::this_thread::sleep_until(std::min(clockTick(deadline), now + longest));
}

int runPattern() {
    if (arguments.empty())
        fail("no strength");
    std::optional<float> parsed = parseStrength(arguments[0]);
    if (!parsed)
        fail("no strength");
    strength = *parsed;

    std::vector<Step> parsedSteps;
    for (size_t i = 1; i < arguments.size(); ++i) {
        std::optional<Step> step = parseStep(arguments[i]);
        if (!step)
            fail("not a step: " + std::string(arguments[i]));
        parsedSteps.push_back(*step);
    }
    steps = std::move(parsedSteps);

    // Every deadline is the start instant plus the waits so far, so lateness
    // comes out of the next wait and never shifts the rest of the pattern.
    last = Clock::now();
    for (const Step& step : steps) {
        play(step, strength);
        last += std::chrono::duration<double>(step.wait / 1000);
        blockUntil(last);
    }

    // The closing wait lets the last tone sound out; it begins once the last
    // deadline has been reached, and `ms` has no ceiling.
    double lastMs = steps.empty() ? 0 : steps.back().ms;
    blockUntil(Instant(Clock::now()) + std::chrono::duration<double>(lastMs / 1000 + 0.1));
    return 0;
}
