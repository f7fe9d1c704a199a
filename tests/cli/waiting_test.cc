// How a run spends its time, through the real binary: blocked rather than
// spinning, and closing on the last step's tone. Bounds are generous: the
// machine running the tests may be busy.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "timing.h"
#include "tool.h"

namespace {

TEST(Waiting, BlocksInsteadOfSpinning) {
    // Half a second to the second step's deadline, then a closing wait of 0.6 s.
    expectInTime({"1", "150:20:1:500", "150:500:1:0"}, {}, [](const Outcome& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_GE(run.seconds, 1.1);
        // Start-up and two actuations take milliseconds of CPU; spinning on
        // the clock would take about as much as the wall time. A virtual
        // machine may count a stall as CPU time too.
        Missed missed;
        within(missed, "CPU time in " + std::to_string(run.seconds) + " s", run.cpuSeconds, run.seconds / 4);
        return missed;
    });
}

TEST(Waiting, TheClosingWaitFollowsTheLastStepAlone) {
    // A long first tone does not hold the process once a short last one is
    // done: it would take 3.1 s.
    expectInTime({"1", "150:3000:1:0", "150:20:1:0"}, {}, [](const Outcome& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(events(run, "actuate").size(), 2u);
        EXPECT_GE(run.seconds, 0.12);
        Missed missed;
        within(missed, "the run", run.seconds, 1.5);
        return missed;
    });
    // ...and a long last tone is waited for after short ones.
    expectInTime({"1", "150:20:1:0", "150:600:1:0"}, {}, [](const Outcome& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_GE(run.seconds, 0.7);
        Missed missed;
        within(missed, "the run", run.seconds, 0.7 + process);
        return missed;
    });
}

TEST(Waiting, TheClosingWaitBeginsOnlyOnceALateLastStepHasPlayed) {
    // The only step's actuate takes 400 ms, long past its deadline (wait 0);
    // the tone still gets its 0.3 s and the tenth after that.
    expectInTime({"1", "150:300:1:0"}, withEnv({{"MTSIM_DELAY", "1:400"}}), [](const Outcome& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_GE(run.seconds, 0.8);
        Missed missed;
        within(missed, "the run", run.seconds, 0.8 + process);
        return missed;
    });
}

}  // namespace
