// Start-up through the real binary: loading the framework, discovering the
// motors, and the check request, against the simulated trackpad.
#include <gtest/gtest.h>

#include "tool.h"

TEST(Startup, WithoutTheFrameworkTheFirstFunctionIsMissing) {
    Options bare;
    bare.redirect = false;
    Outcome run = runThrum({"--check"}, bare);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "no MTDeviceCreateList\n");
    EXPECT_EQ(run.out, "");
}
