// How a run spends its time, through the real binary: blocked rather than
// spinning, and closing on the last step's tone. Bounds are generous: the
// machine running the tests may be busy.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tool.h"

namespace {

TEST(Waiting, BlocksInsteadOfSpinning) {
    // Half a second to the second step's deadline, then a closing wait of 0.6 s.
    Outcome run = runThrum({"1", "150:20:1:500", "150:500:1:0"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GE(run.seconds, 1.1);
    // Start-up and two actuations take milliseconds of CPU; spinning on the
    // clock would take about as much as the wall time.
    EXPECT_LT(run.cpuSeconds, run.seconds / 4) << run.cpuSeconds << " s of CPU in " << run.seconds << " s";
}

TEST(Waiting, TheClosingWaitFollowsTheLastStepAlone) {
    // A long first tone does not hold the process once a short last one is done...
    Outcome shortLast = runThrum({"1", "150:3000:1:0", "150:20:1:0"});
    EXPECT_EQ(shortLast.status, 0) << shortLast.err;
    EXPECT_EQ(events(shortLast, "actuate").size(), 2u);
    EXPECT_GE(shortLast.seconds, 0.12);
    EXPECT_LT(shortLast.seconds, 1.5);
    // ...and a long last tone is waited for after short ones.
    Outcome longLast = runThrum({"1", "150:20:1:0", "150:600:1:0"});
    EXPECT_EQ(longLast.status, 0) << longLast.err;
    EXPECT_GE(longLast.seconds, 0.7);
    EXPECT_LT(longLast.seconds, 1.3);
}

TEST(Waiting, TheClosingWaitBeginsOnlyOnceALateLastStepHasPlayed) {
    // The only step's actuate takes 400 ms, long past its deadline (wait 0);
    // the tone still gets its 0.3 s and the tenth after that.
    Options slow;
    slow.env = {{"MTSIM_DELAY", "1:400"}};
    Outcome run = runThrum({"1", "150:300:1:0"}, slow);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GE(run.seconds, 0.8);
    EXPECT_LT(run.seconds, 1.4);
}

}  // namespace
