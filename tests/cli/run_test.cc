// The pattern run through the real binary and the simulated trackpad. Times
// come from the simulation's log; the bounds are generous, since the machine
// running the tests may be busy.
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tool.h"

extern char** environ;

namespace {

// The exact bits of the intensity an actuate line carries.
uint32_t intensity(const std::string& line) {
    size_t at = line.find("intensity=");
    EXPECT_NE(at, std::string::npos) << line;
    return at == std::string::npos ? 0 : static_cast<uint32_t>(std::stoul(line.substr(at + 10, 8), nullptr, 16));
}

// Seconds from the first actuate to each actuate, in order.
std::vector<double> startsAfterFirst(const Outcome& run) {
    std::vector<double> starts;
    long long first = -1;
    for (size_t i = 0; i < run.log.size(); ++i) {
        if (run.log[i].rfind("actuate ", 0) != 0)
            continue;
        if (first < 0)
            first = run.times[i];
        starts.push_back((run.times[i] - first) / 1e9);
    }
    return starts;
}

Options withEnv(const char* name, const char* value) {
    Options options;
    options.env = {{name, value}};
    return options;
}

void expectFailure(const Outcome& run, const std::string& line) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, line + "\n");
    EXPECT_EQ(run.out, "");
}

TEST(Strength, AcceptedTextsReachTheIntensityClamped) {
    struct Case {
        const char* text;
        uint32_t bits;
    };
    // The full range of texts is read in the unit tests; these show that the
    // value the run stores is the one every actuate carries.
    for (Case c : std::vector<Case>{{"2", 0x3f800000}, {"-1", 0}, {"0x1p-1", 0x3f000000},
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

TEST(Strength, RejectedTextsEndBeforeAnythingPlays) {
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
    Outcome run = runThrum({"0.5"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_TRUE(events(run, "actuate").empty());
    EXPECT_GE(run.seconds, 0.1);
    EXPECT_LT(run.seconds, 0.6);
}

TEST(Schedule, TheLastWaitIsWaitedOutBeforeTheClosingWait) {
    Outcome run = runThrum({"1", "150:20:1:1000"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(events(run, "actuate").size(), 1u);
    EXPECT_GE(run.seconds, 1.12);
    EXPECT_LT(run.seconds, 1.6);
}

TEST(Schedule, WaitsOfZeroPlayBackToBack) {
    Outcome run = runThrum({"1", "150:20:1:0", "150:20:1:0", "150:20:1:0", "150:20:1:0", "150:20:1:0"});
    EXPECT_EQ(run.status, 0) << run.err;
    auto starts = startsAfterFirst(run);
    ASSERT_EQ(starts.size(), 5u);
    EXPECT_LT(starts.back(), 0.05);
    EXPECT_GE(run.seconds, 0.12);
    EXPECT_LT(run.seconds, 0.6);
}

TEST(Schedule, KeepsToDeadlinesFromTheStart) {
    Outcome run = runThrum({"1", "150:20:1:100", "150:20:1:150", "150:20:1:50", "150:20:1:0"});
    EXPECT_EQ(run.status, 0) << run.err;
    auto starts = startsAfterFirst(run);
    ASSERT_EQ(starts.size(), 4u);
    double ideal[] = {0, 0.1, 0.25, 0.3};
    for (size_t k = 1; k < 4; ++k) {
        EXPECT_GT(starts[k], ideal[k] - 0.005) << "step " << k + 1;
        EXPECT_LT(starts[k], ideal[k] + 0.06) << "step " << k + 1;
    }
}

TEST(Schedule, CatchesUpAfterALateStepWithoutShiftingTheRest) {
    // The second actuate is held up 300 ms, past the deadline at 400 ms: the
    // third step starts at once (500 ms), the fourth still at 600 ms.
    Outcome run = runThrum({"1", "150:20:1:200", "150:20:1:200", "150:20:1:200", "150:20:1:0"},
                       withEnv("MTSIM_DELAY", "2:300"));
    EXPECT_EQ(run.status, 0) << run.err;
    auto starts = startsAfterFirst(run);
    ASSERT_EQ(starts.size(), 4u);
    EXPECT_GT(starts[1], 0.195);
    EXPECT_LT(starts[1], 0.28);
    EXPECT_GT(starts[2], 0.5);
    EXPECT_LT(starts[2], 0.58);
    EXPECT_GT(starts[3], 0.595);
    EXPECT_LT(starts[3], 0.68);
}

TEST(Schedule, NoActuationEndsAtOnceWithoutTheClosingWait) {
    Outcome run = runThrum({"1", "150:5000:1:100", "150:5000:1:100", "150:5000:1:100"},
                       withEnv("MTSIM_NULL_ACTUATION", "2"));
    expectFailure(run, "no actuation");
    EXPECT_EQ(events(run, "actuate").size(), 1u);
    EXPECT_LT(run.seconds, 1.0);
}

TEST(Schedule, AClosingWaitBeyondTheClocksRangeDoesNotEndEarly) {
    // 1e300 ms cannot be counted in the clock's nanoseconds; converted
    // naively it overflows and the wait returns at once. It must go on until
    // the process is stopped.
    std::string preload = preloadVariable + "=" + REDIRECT_LIBRARY;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("MTSIM_", 0) != 0 && std::string(*e).rfind(preloadVariable + "=", 0) != 0)
            env.push_back(*e);
    env.push_back(preload);
    for (const char* ms : {"1e300", "1.7e308", "1e13"}) {
        std::string step = std::string("150:") + ms + ":1:0";
        std::vector<char*> argv = {const_cast<char*>(THRUM_BINARY), const_cast<char*>("1"), step.data(), nullptr};
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid;
        ASSERT_EQ(posix_spawn(&pid, THRUM_BINARY, nullptr, nullptr, argv.data(), envp.data()), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << ms << " ms: ended early with status " << status;
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

}  // namespace
