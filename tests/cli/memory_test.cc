// Memory running out while a step is described: whichever of the platform's
// create calls gives null, the run ends with its own line and nothing of it plays.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tool.h"

using testing::SizeIs;

namespace {

// Two steps with no wait; the redirect makes the tool's `call`-th create call
// (from 1, across texts, numbers, lists and dictionaries) give null.
Outcome runWithNullCreate(int call) {
    return runThrum({"1", "150:20:1:0", "150:20:1:0"}, withEnv({{"MTSIM_CF_NULL", std::to_string(call)}}));
}

}  // namespace

TEST(OutOfMemory, ANullFromAnyCreateCallEndsTheRunBeforeItsStepReachesTheFramework) {
    // A description is 22 objects: 10 keys, 2 texts, 6 numbers, one list and
    // three dictionaries, the outer one last. A null handed on into a
    // container would make it abort, and one handed to the framework would
    // read as "no actuation".
    const int perStep = 22;
    for (int call = 1; call <= 2 * perStep; ++call) {
        Outcome run = runWithNullCreate(call);
        size_t played = call > perStep ? 1 : 0;
        EXPECT_EQ(run.status, 1) << call;
        EXPECT_EQ(run.err, "out of memory\n") << call;
        EXPECT_THAT(events(run, "createActuation"), SizeIs(played)) << call;
        EXPECT_THAT(events(run, "actuate"), SizeIs(played)) << call;
    }
    Outcome run = runWithNullCreate(2 * perStep + 1);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(events(run, "actuate"), SizeIs(2));
}
