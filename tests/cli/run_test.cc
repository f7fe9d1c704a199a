// The pattern run through the real binary and the simulated trackpad. Times
// come from the simulation's log: no step may start before its deadline, and
// the bounds above it are generous, since the machine may be busy.
#include <csignal>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "timing.h"
#include "tool.h"

namespace {

// The exact bits of the intensity an actuate line carries.
uint32_t intensity(const std::string& line) {
    size_t at = line.find("intensity=");
    EXPECT_NE(at, std::string::npos) << line;
    return at == std::string::npos ? 0 : static_cast<uint32_t>(std::stoul(line.substr(at + 10, 8), nullptr, 16));
}

// The tool takes its start instant once start-up is over, so the last log line
// before the first creation comes before it: measured from there, no step can
// seem early. A microsecond is allowed below for the clock's granularity and
// the schedule's floating-point instants; lateness, which a busy machine adds
// freely, is allowed generously above (timing.h).
constexpr double tick = 1e-6;

// Seconds from the end of start-up to each actuate, in order.
std::vector<double> starts(const Outcome& run) {
    std::vector<double> found;
    long long anchor = -1;
    for (size_t i = 0; i < run.log.size(); ++i) {
        if (anchor < 0 && i > 0 && run.log[i].rfind("createActuation ", 0) == 0)
            anchor = run.times[i - 1];
        if (run.log[i].rfind("actuate ", 0) == 0)
            found.push_back((run.times[i] - anchor) / 1e9);
    }
    return found;
}

// A run that ended well with one step for each `ideal` start: none early, and
// the bounds on how late each was returned for expectInTime.
Missed expectSteps(const Outcome& run, const std::vector<double>& ideal) {
    Missed missed;
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<double> at = starts(run);
    EXPECT_EQ(at.size(), ideal.size());
    for (size_t k = 0; k < at.size() && k < ideal.size(); ++k) {
        EXPECT_GE(at[k], ideal[k] - tick) << "step " << k + 1 << " started early";
        within(missed, "step " + std::to_string(k + 1) + "'s lateness", at[k] - ideal[k], late);
    }
    return missed;
}

void expectFailure(const Outcome& run, const std::string& line) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, line + "\n");
    EXPECT_EQ(run.out, "");
}

TEST(StrengthArgument, AcceptedTextsReachTheIntensityClamped) {
    struct Case {
        const char* text;
        uint32_t bits;
    };
    // The full range of texts is read in the unit tests; these show that the
    // value the run stores is the one every actuate carries.
    for (Case c : std::vector<Case>{{"2", 0x3f800000},
                                    {"-1", 0},
                                    {"0x1p-1", 0x3f000000},
                                    // Rounded once, straight to 32 bits; by way of a double it would be 0.5.
                                    {"0.5000000298023223876953125001", 0x3f000001}}) {
        Outcome run = runThrum({c.text, "150:20:1:0"});
        EXPECT_EQ(run.status, 0) << c.text << ": " << run.err;
        EXPECT_EQ(run.out + run.err, "") << c.text;
        auto actuated = events(run, "actuate");
        ASSERT_EQ(actuated.size(), 1u) << c.text;
        EXPECT_EQ(intensity(actuated[0]), c.bits) << c.text;
    }
}

TEST(StrengthArgument, RejectedTextsEndBeforeAnythingPlays) {
    for (const char* text : {"0,5", "0.5 ", "", "1e39"}) {
        Outcome run = runThrum({text, "150:20:1:0"});
        expectFailure(run, "no strength");
        EXPECT_TRUE(events(run, "actuate").empty()) << '"' << text << '"';
    }
    // The strength is judged before the steps.
    expectFailure(runThrum({"0,5", "150:20"}), "no strength");
}

TEST(Steps, AllAreReadBeforeAnyPlays) {
    // The argument comes back byte for byte, whatever it holds.
    std::string odd = "150:20:1:x \xff\xfe:\xcc\x81 ";
    Outcome run = runThrum({"0.5", "150:20:1:0", odd, "also:bad"});
    expectFailure(run, "not a step: " + odd);
    EXPECT_TRUE(events(run, "actuate").empty());
    EXPECT_TRUE(events(run, "createActuation").empty());

    expectFailure(runThrum({"0.5", ""}), "not a step: ");
}

TEST(Schedule, NoStepsWaitsOnlyTheClosingTenth) {
    expectInTime({"0.5"}, {}, [](const Outcome& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out + run.err, "");
        EXPECT_TRUE(events(run, "actuate").empty());
        EXPECT_GE(run.seconds, 0.1);
        Missed missed;
        within(missed, "the run", run.seconds, 0.1 + process);
        return missed;
    });
}

TEST(Schedule, TheLastWaitIsWaitedOutBeforeTheClosingWait) {
    expectInTime({"1", "150:20:1:1000"}, {}, [](const Outcome& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(events(run, "actuate").size(), 1u);
        EXPECT_GE(run.seconds, 1.12);
        Missed missed;
        within(missed, "the run", run.seconds, 1.12 + process);
        return missed;
    });
}

TEST(Schedule, WaitsOfZeroPlayBackToBack) {
    // Tones of 100 ms: a schedule that waited them out would be 400 ms late.
    expectInTime({"1", "150:100:1:0", "150:100:1:0", "150:100:1:0", "150:100:1:0", "150:100:1:0"}, {},
                 [](const Outcome& run) {
                     Missed missed = expectSteps(run, {0, 0, 0, 0, 0});
                     EXPECT_GE(run.seconds, 0.2);
                     within(missed, "the run", run.seconds, 0.2 + process);
                     return missed;
                 });
}

TEST(Schedule, KeepsToDeadlinesFromTheStart) {
    // Each step starts at the waits before it; the tones (250 ms) take no
    // part, and neither does the order of the waits.
    expectInTime({"1", "150:250:1:300", "150:250:1:0", "150:250:1:200", "150:250:1:0"}, {},
                 [](const Outcome& run) { return expectSteps(run, {0, 0.3, 0.3, 0.5}); });
}

TEST(Schedule, CatchesUpAfterALateStepWithoutShiftingTheRest) {
    // The second actuate is held up 500 ms, past the third deadline (400 ms):
    // the third step starts as soon as it returns, the fourth still at 900 ms.
    expectInTime({"1", "150:20:1:200", "150:20:1:200", "150:20:1:500", "150:20:1:0"},
                 withEnv({{"MTSIM_DELAY", "2:500"}}), [](const Outcome& run) {
                     std::vector<double> at = starts(run);
                     return expectSteps(run, {0, 0.2, at.size() > 1 ? at[1] + 0.5 : 0.7, 0.9});
                 });
}

TEST(Schedule, NoActuationEndsAtOnceWithoutTheClosingWait) {
    expectInTime({"1", "150:5000:1:100", "150:5000:1:100", "150:5000:1:100"}, withEnv({{"MTSIM_NULL_ACTUATION", "2"}}),
                 [](const Outcome& run) {
                     expectFailure(run, "no actuation");
                     EXPECT_EQ(events(run, "actuate").size(), 1u);
                     Missed missed;
                     within(missed, "the run", run.seconds, 0.1 + process);
                     return missed;
                 });
}

TEST(Schedule, AClosingWaitBeyondTheClocksRangeDoesNotEndEarly) {
    // 1e300 ms cannot be counted in the clock's nanoseconds; converted
    // naively it overflows and the wait returns at once. It must go on until
    // the process is stopped.
    Options stopped;
    stopped.killAfterSeconds = 0.5;
    for (const char* ms : {"1e300", "1.7e308", "1e13"}) {
        Outcome run = runThrum({"1", std::string("150:") + ms + ":1:0"}, stopped);
        EXPECT_EQ(run.status, 128 + SIGKILL) << ms << " ms: ended early with status " << run.status;
    }
}

}  // namespace
