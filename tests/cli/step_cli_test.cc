// The step syntax as the real binary shows it. Whether a text is accepted is
// seen by putting a bad argument after it: that one is reported only when
// every step before it was accepted, and then nothing plays.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tool.h"

namespace {

const std::string after = "!";

// True when `text` is accepted, false when it is the step reported.
bool accepted(const std::string& text) {
    Outcome run = runThrum({"1", text, after});
    EXPECT_EQ(run.status, 1) << text;
    EXPECT_EQ(run.out, "") << text;
    EXPECT_TRUE(events(run, "actuate").empty()) << text;
    if (run.err == "not a step: " + after + "\n")
        return true;
    EXPECT_EQ(run.err, "not a step: " + text + "\n");
    return false;
}

TEST(StepSyntax, AcceptedTexts) {
    for (const char* text : {"150:20:1:100", ":150::20:1:100:", "150:20:x:1:100", "150: 20:1:100:7", "0x96:0x14:1:1e2",
                             "+150:.5e2:1.:100", "-0:20:1:0", "150:20:2:9000", "1e-999:20:1:0", "150:20:1:100:\u00E95",
                             "150:20:x\u0301:1:100", "150:20:1\xFF:100:5"})
        EXPECT_TRUE(accepted(text)) << text;
}

TEST(StepSyntax, RejectedTextsComeBackByteForByte) {
    for (const char* text :
         {"", ":::", "150:20:1", "150:20:1:100:5", "150: 20:1:100", "150:20 :1:100", "150:20ms:1:100", "150:20:0,5:100",
          "-1:20:1:0", "inf:20:1:0", "nan:150:20:1:0", "1e999:20:1:0", "150:20:1:100:\u03015", "150:20:1:100:\u200D5",
          "150:20:1:100:\U0001F3FB5", "150:20:1:100\u0600:5", "\xFF\xFE:\xC0:\xCC"})
        EXPECT_FALSE(accepted(text)) << text;
}

TEST(StepSyntax, LevelIsNarrowedOnceAndCapped) {
    // The level's 64-bit value is the midpoint between 0.5 and the next
    // 32-bit value, and ties to even; a straight 32-bit reading would not.
    Outcome run = runThrum({"1", "150:20:0.50000002980232238769531250001:0", "150:20:7:0"});
    EXPECT_EQ(run.status, 0) << run.err;
    auto actuated = events(run, "actuate");
    ASSERT_EQ(actuated.size(), 2u);
    EXPECT_NE(actuated[0].find("intensity=3f000000"), std::string::npos) << actuated[0];
    EXPECT_NE(actuated[1].find("intensity=3f800000"), std::string::npos) << actuated[1];
}

}  // namespace
