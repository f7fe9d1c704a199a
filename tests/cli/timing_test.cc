// The simulation's timing of each step for the schedule benchmark: the lines
// that bracket its own work come in order, on one clock, once a step.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool.h"

using testing::ElementsAre;
using testing::ElementsAreArray;

TEST(TimedSteps, EachStepIsBracketedOnceAroundTheSimulationsOwnWork) {
    Outcome run = runThrum({"1", "150:0:1:0", "150:0:1:2", "150:0:1:0"},
                           withEnv({{"MTSIM_TIME_DESCRIBE", "1"}, {"MTSIM_DEVICES", "motor,motor"}}));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> words, expected;
    for (const std::string& line : run.log)
        words.push_back(line.substr(0, line.find(' ')));
    expected = {"load",         "createList", "getID",          "createActuator",
                "openActuator", "getID",      "createActuator", "openActuator"};
    // The return is written at the first motor's actuate, not the second's.
    for (int step = 0; step < 3; ++step)
        expected.insert(expected.end(), {"describe", "entered", "createActuation", "returned", "dropped", "actuate",
                                         "actuate", "destroy"});
    EXPECT_THAT(words, ElementsAreArray(expected));
    // Lean: the description's text, most of the simulation's cost, is left out.
    EXPECT_THAT(events(run, "createActuation"),
                ElementsAre("createActuation options=0 -> actuation@1", "createActuation options=0 -> actuation@2",
                            "createActuation options=0 -> actuation@3"));
    // Lines written late carry earlier instants; the log stays in time order.
    for (size_t i = 1; i < run.times.size(); ++i)
        EXPECT_LE(run.times[i - 1], run.times[i]) << run.log[i];
    // The check an actuate makes carries that call's entry instant.
    for (size_t i = 1; i < run.log.size(); ++i)
        if (words[i] == "actuate" && words[i - 1] == "dropped") {
            EXPECT_EQ(run.times[i - 1], run.times[i]);
        }
}
