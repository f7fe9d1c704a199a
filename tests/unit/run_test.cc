#include "driver/run.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>

namespace {

uint32_t bits(float value) {
    return std::bit_cast<uint32_t>(value);
}

TEST(Strength, ReadsTheCLibrarySyntaxAndClampsToTheUnitRange) {
    for (const char* text : {"0.5", ".5", "+0.5", "5e-1", "0x1p-1", "0.50", "5E-1", "0X.8P0"})
        EXPECT_EQ(parseStrength(text), 0.5f) << text;
    for (const char* text : {"2", "1e3", "1", "3.4e38"})
        EXPECT_EQ(parseStrength(text), 1.0f) << text;
    for (const char* text : {"-1", "-0.5", "-3.4e38"}) {
        auto value = parseStrength(text);
        ASSERT_TRUE(value) << text;
        EXPECT_EQ(bits(*value), bits(0.0f)) << text << " must clamp to positive zero";
    }
    EXPECT_EQ(bits(parseStrength("-0").value()), bits(-0.0f));
    EXPECT_EQ(bits(parseStrength("0.8").value()), bits(0.8f));
}

TEST(Strength, RejectsAnythingButOneWholeFiniteNumber) {
    for (const char* text :
         {"",  " 0.5", "0.5 ", "\t0.5", "\n0.5", "\v0.5", "\f0.5",    "\r0.5", "0,5",    "0.5.", "0.5x", "x",
          "+", ".",    "e1",   "0x",    "inf",   "-INF",  "infinity", "nan",   "NaN(1)", "1e39", "-1e39"})
        EXPECT_FALSE(parseStrength(text)) << '"' << text << '"';
    // The command line cannot carry a NUL, but the conversion must not stop
    // quietly at one either.
    EXPECT_FALSE(parseStrength(std::string_view("\0000.5", 4)));
    EXPECT_FALSE(parseStrength(std::string_view("0.5\0009", 5)));
}

TEST(Strength, RoundsOnceToThirtyTwoBits) {
    // Just above the midpoint between 0.5 and the next float up. By way of a
    // double, the excess is lost first and the tie then goes to even, 0.5.
    auto value = parseStrength("0.5000000298023223876953125001");
    ASSERT_TRUE(value);
    EXPECT_EQ(bits(*value), 0x3f000001u);
    EXPECT_EQ(bits(static_cast<float>(std::strtod("0.5000000298023223876953125001", nullptr))), 0x3f000000u);
}

Instant seconds(double s) {
    return Instant(std::chrono::duration<double>(s));
}

TEST(ClockTick, RoundsUpToTheNextTick) {
    using std::chrono::nanoseconds;
    EXPECT_EQ(clockTick(seconds(1.5)).time_since_epoch(), nanoseconds(1'500'000'000));
    EXPECT_EQ(clockTick(seconds(1e-10)).time_since_epoch(), Clock::duration(1));
    EXPECT_EQ(clockTick(seconds(0)).time_since_epoch(), Clock::duration(0));
    // A tick reached is never before the instant asked for.
    Instant instant = seconds(12345.678901234567);
    EXPECT_GE(Instant(clockTick(instant)), instant);
}

TEST(ClockTick, SaturatesBeyondTheClocksRange) {
    // The closing wait follows `ms`, which has no ceiling.
    for (double s : {1e300 / 1000, 1e12, 9.3e9, HUGE_VAL})
        EXPECT_EQ(clockTick(seconds(s)), Clock::time_point::max()) << s;
    EXPECT_EQ(clockTick(seconds(-1e300)), Clock::time_point::min());
    // 2^63 ns itself is one past the largest count.
    EXPECT_EQ(clockTick(Instant(std::chrono::duration<double, std::nano>(9223372036854775808.0))),
              Clock::time_point::max());
    // The largest instant below 2^63 ns still converts exactly.
    double below = std::nextafter(9223372036854775808.0, 0.0);
    EXPECT_EQ(clockTick(Instant(std::chrono::duration<double, std::nano>(below))).time_since_epoch().count(),
              static_cast<Clock::rep>(below));
}

TEST(BlockUntil, ReturnsAtOnceForAPassedDeadlineAndNeverEarly) {
    auto before = Clock::now();
    blockUntil(Instant(before) - std::chrono::duration<double>(1));
    blockUntil(Instant(before));
    // Generous: a busy machine may hold the thread up; a wait of the second
    // by which the first deadline has passed would not fit.
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(500));

    Instant deadline = Instant(Clock::now()) + std::chrono::duration<double>(0.02);
    blockUntil(deadline);
    EXPECT_GE(Instant(Clock::now()), deadline);
}

}  // namespace
