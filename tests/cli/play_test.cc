// Actuation through the real binary: what the simulated framework receives for
// each step, in what order, and what the tool releases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "description_text.h"
#include "tool.h"

using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

// The log from the first actuation on: discovery is tested elsewhere.
std::vector<std::string> afterDiscovery(const Outcome& run) {
    for (size_t i = 0; i < run.log.size(); ++i)
        if (run.log[i].rfind("createActuation ", 0) == 0)
            return {run.log.begin() + i, run.log.end()};
    return {};
}

// A createActuation line for a dictionary the tool holds once, with nothing
// inside it held by anyone but the tree itself (strayRefs=0), whatever the step.
std::string created(int k, const std::string& durationMS, const std::string& frequencykHz) {
    return "createActuation options=0 refs=1 strayRefs=0 description=" + descriptionText(durationMS, frequencykHz) +
           " -> actuation@" + std::to_string(k);
}

std::string actuated(int k, int motor, const std::string& intensity, int status = 0) {
    return "actuate actuation@" + std::to_string(k) + " motor=actuator@" + std::to_string(motor) +
           " arg3=0 intensity=" + intensity + " arg5=00000000 -> " + std::to_string(status);
}

}  // namespace

TEST(Actuation, EachStepIsDescribedThenFiredOnEveryMotorInOrderThenReleased) {
    Outcome run = runThrum({"0.5", "175:12.5:1:0", "0:0:0.5:0", "20000:0.001:1:0"},
                           withEnv({{"MTSIM_DEVICES", "motor=1,noopen=2,motor=3"}}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    // Actuator 2 failed to open and is not a motor; the open ones are 1 and 3.
    EXPECT_THAT(
        afterDiscovery(run),
        ElementsAre(created(1, "0x1.9p+3", "0x1.6666666666666p-3"), "dropped description@1", actuated(1, 1, "3f000000"),
                    actuated(1, 3, "3f000000"), "destroy actuation@1", created(2, "0x0p+0", "0x0p+0"),
                    "dropped description@2", actuated(2, 1, "3e800000"), actuated(2, 3, "3e800000"),
                    "destroy actuation@2", created(3, "0x1.0624dd2f1a9fcp-10", "0x1.4p+4"), "dropped description@3",
                    actuated(3, 1, "3f000000"), actuated(3, 3, "3f000000"), "destroy actuation@3"));
}

TEST(Actuation, IntensityIsTheProductOfLevelAndStrengthSignOfZeroIncluded) {
    struct {
        std::vector<std::string> args;
        std::vector<std::string> bits;
    } cases[] = {
        {{"1", "150:0:1:0", "150:0:0:0"}, {"3f800000", "00000000"}},
        {{"0", "150:0:1:0"}, {"00000000"}},
        {{"-0", "150:0:0.5:0", "150:0:-0:0"}, {"80000000", "00000000"}},
    };
    for (auto& c : cases) {
        Outcome run = runThrum(c.args);
        EXPECT_EQ(run.status, 0) << c.args[0] << ": " << run.err;
        // A silent step is still created, fired and released like any other.
        std::vector<std::string> expected;
        for (size_t k = 1; k <= c.bits.size(); ++k)
            expected.push_back(actuated(int(k), 1, c.bits[k - 1]));
        EXPECT_THAT(events(run, "actuate"), ElementsAreArray(expected)) << c.args[0];
        EXPECT_EQ(events(run, "destroy").size(), c.bits.size()) << c.args[0];
    }
}

TEST(Actuation, AFailedActuateChangesNothing) {
    Outcome run = runThrum({"1", "150:0:1:0", "150:0:1:0"},
                           withEnv({{"MTSIM_DEVICES", "motor,motor"}, {"MTSIM_ACTUATE_STATUS", "-5"}}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_THAT(events(run, "actuate"), ElementsAre(actuated(1, 1, "3f800000", -5), actuated(1, 2, "3f800000", -5),
                                                    actuated(2, 1, "3f800000", -5), actuated(2, 2, "3f800000", -5)));
    EXPECT_THAT(events(run, "destroy"), ElementsAre("destroy actuation@1", "destroy actuation@2"));
}

TEST(Actuation, NoActuationEndsTheRunAfterTheEarlierStepsPlayed) {
    Outcome run = runThrum({"1", "150:0:1:0", "150:0:1:0", "150:0:1:0", "150:0:1:0"},
                           withEnv({{"MTSIM_DEVICES", "motor,motor"}, {"MTSIM_NULL_ACTUATION", "3"}}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "no actuation\n");
    std::vector<std::string> log = afterDiscovery(run);
    ASSERT_EQ(log.size(), 12u);
    EXPECT_EQ(log[9], "destroy actuation@2");
    EXPECT_THAT(log[10], testing::EndsWith("-> null"));
    // The description of the step that got none is released before the end too.
    EXPECT_EQ(log[11], "dropped description@3");
}
