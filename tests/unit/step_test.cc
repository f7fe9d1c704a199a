#include "driver/step.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

// The step as "hz ms level wait" with enough digits to tell any two values
// apart (negative zero shows as -0), or "none".
std::string show(std::string_view text) {
    std::optional<Step> step = parseStep(text);
    if (!step)
        return "none";
    char out[160];
    snprintf(out, sizeof out, "%.17g %.17g %.9g %.17g", step->hz, step->ms, static_cast<double>(step->level),
             step->wait);
    return out;
}

TEST(StepSplitting, EmptyPiecesAreDiscarded) {
    EXPECT_EQ(show("150:20:1:100"), "150 20 1 100");
    EXPECT_EQ(show("150::20:1:100"), "150 20 1 100");
    EXPECT_EQ(show(":150:20:1:100:"), "150 20 1 100");
    EXPECT_EQ(show("::150:20::::1:100::"), "150 20 1 100");
    EXPECT_EQ(show(""), "none");
    EXPECT_EQ(show(":"), "none");
    EXPECT_EQ(show(":::"), "none");
}

TEST(StepSplitting, ReadsOnlyTheGivenBytes) {
    // A view into a longer buffer: the 0 after it is not part of the text.
    EXPECT_EQ(show(std::string_view("150:20:1:1000", 12)), "150 20 1 100");
    // An embedded NUL ends no piece early: "2\0" is no number.
    EXPECT_EQ(show(std::string_view("150:2\0:1:0:7", 12)), "150 1 0 7");
}

TEST(StepNumberTexts, PiecesThatAreNoNumberAreSkipped) {
    EXPECT_EQ(show("150:20:x:1:100"), "150 20 1 100");
    EXPECT_EQ(show("150:x:20:1:100"), "150 20 1 100");
    EXPECT_EQ(show("150:20:1:x:100"), "150 20 1 100");
    EXPECT_EQ(show("x:150:20:1:0"), "150 20 1 0");
    EXPECT_EQ(show("150:20ms:1:100"), "none");
    EXPECT_EQ(show("150:20:0,5:100"), "none");
    EXPECT_EQ(show("150:20:0,5:1:100"), "150 20 1 100");
    EXPECT_EQ(show("1e:1e+:0x:.:e5:1.2.3:--1:+-1:0x.p1:nan(a:150:20:1:0"), "150 20 1 0");
}

TEST(StepNumberTexts, HexSignedAndExponentForms) {
    EXPECT_EQ(show("0x96:0x14:1:1e2"), "150 20 1 100");
    EXPECT_EQ(show("+150:.5e2:1.:100"), "150 50 1 100");
    EXPECT_EQ(show("0X1P4:0x.8p1:0x1p-1:1E+2"), "16 1 0.5 100");
    EXPECT_EQ(show("+0x96:1.5E-1:+.25:00100"), "150 0.14999999999999999 0.25 100");
}

TEST(StepNumberTexts, BlanksAroundAPieceMakeItNoNumber) {
    EXPECT_EQ(show("150: 20:1:100"), "none");
    EXPECT_EQ(show("150:20 :1:100"), "none");
    EXPECT_EQ(show("150: 20:1:100:7"), "150 1 1 7");
    for (char blank : std::string("\t\n\v\f\r ")) {
        EXPECT_EQ(show(std::string(1, blank) + "9:150:20:1:0"), "150 20 1 0") << int(blank);
        EXPECT_EQ(show("150:20:1:0" + std::string(1, blank) + ":9"), "150 20 1 9") << int(blank);
    }
}

TEST(StepNumberTexts, InfinityAndNanAreNumbers) {
    // Counted as numbers, so a fifth piece makes the count wrong...
    EXPECT_EQ(show("nan:150:20:1:0"), "none");
    EXPECT_EQ(show("nan(abc_1):150:20:1:0"), "none");
    EXPECT_EQ(show("-Infinity:150:20:1:0"), "none");
    EXPECT_EQ(show("1e999:150:20:1:0"), "none");
    // ...and with four they fail the check.
    EXPECT_EQ(show("inf:20:1:0"), "none");
    EXPECT_EQ(show("150:nan:1:0"), "none");
    EXPECT_EQ(show("150:20:INFINITY:0"), "none");
    EXPECT_EQ(show("150:20:1:NaN()"), "none");
    EXPECT_EQ(show("1e999:20:1:0"), "none");
    EXPECT_EQ(show("0x1p99999:20:1:0"), "none");
}

TEST(StepNumberTexts, UnderflowIsZero) {
    EXPECT_EQ(show("1e-999:20:1:0"), "0 20 1 0");
    EXPECT_EQ(show("150:20:1:-1e-999"), "150 20 1 -0");
    EXPECT_EQ(show("4.9e-324:20:1:0"), "4.9406564584124654e-324 20 1 0");
}

TEST(StepCount, ExactlyFourNumbers) {
    EXPECT_EQ(show("150:20:1"), "none");
    EXPECT_EQ(show("150:20:1:100:5"), "none");
    EXPECT_EQ(show("x:y:z:w"), "none");
    EXPECT_EQ(show("150:20:1:x"), "none");
    EXPECT_EQ(show("150:20:1:100:x:5"), "none");
}

TEST(StepChecks, NegativeValuesAreRejectedNegativeZeroPasses) {
    EXPECT_EQ(show("-1:20:1:0"), "none");
    EXPECT_EQ(show("150:-20:1:0"), "none");
    EXPECT_EQ(show("150:20:-0.5:0"), "none");
    EXPECT_EQ(show("150:20:1:-1"), "none");
    EXPECT_EQ(show("150:20:1:-4.9e-324"), "none");
    EXPECT_EQ(show("0:0:0:0"), "0 0 0 0");
    EXPECT_EQ(show("-0:20:1:0"), "-0 20 1 0");
    EXPECT_EQ(show("-0:-0.0:-0x0p0:-0e5"), "-0 -0 -0 -0");
}

TEST(StepCaps, LevelAndWaitAreCutDownNeverRejected) {
    EXPECT_EQ(show("150:20:2:9000"), "150 20 1 5000");
    EXPECT_EQ(show("150:20:1:5000"), "150 20 1 5000");
    EXPECT_EQ(show("150:20:1e300:5000.000000001"), "150 20 1 5000");
    EXPECT_EQ(show("150:20:1:4999.999"), "150 20 1 4999.9989999999998");
    EXPECT_EQ(show("100000:60000:1:0"), "100000 60000 1 0");
    EXPECT_EQ(show("1e308:1e308:1:0"), "1e+308 1e+308 1 0");
}

TEST(StepCaps, LevelIsNarrowedFrom64Bits) {
    EXPECT_EQ(parseStep("150:20:0.1:100").value().level, 0.1f);
    EXPECT_EQ(show("150:20:0.99999999999:100"), "150 20 1 100");
    EXPECT_EQ(show("150:20:1e-50:0"), "150 20 0 0");

    // Just above the midpoint between 0.5 and the next 32-bit value. The
    // 64-bit value is that midpoint exactly, which ties to even: 0.5. Read
    // straight to 32 bits it would round up instead.
    const char* text = "0.50000002980232238769531250001";
    ASSERT_NE(strtof(text, nullptr), 0.5f);
    EXPECT_EQ(parseStep(std::string("150:20:") + text + ":0").value().level, 0.5f);
}

TEST(StepUnicode, JoinersAfterAColonKeepItInsideAPiece) {
    // Separated, "J5" would be a piece of its own (no number) and the step
    // whole; joined, "100:J5" is one piece and only three numbers remain.
    EXPECT_EQ(show("150:20:1:100:x5"), "150 20 1 100");
    for (const char* joiner : {"\u0301", "\u200D", "\u0903", "\U0001F3FB", "\U000E0100"})
        EXPECT_EQ(show(std::string("150:20:1:100:") + joiner + "5"), "none") << joiner;
}

TEST(StepUnicode, PrependBeforeAColonKeepsItInsideAPiece) {
    EXPECT_EQ(show("150:20:1:100x:5"), "150 20 1 5");
    for (const char* prepend : {"\u0600", "\u0D4E", "\U000110BD"})
        EXPECT_EQ(show(std::string("150:20:1:100") + prepend + ":5"), "none") << prepend;
}

TEST(StepUnicode, JoinersOnTheOtherSideDoNotJoin) {
    // Extend, ZWJ and spacing marks join only what precedes them, prepend
    // characters only what follows.
    for (const char* joiner : {"\u0301", "\u200D", "\u0903", "\U0001F3FB"})
        EXPECT_EQ(show(std::string("150:20:x") + joiner + ":1:100"), "150 20 1 100") << joiner;
    EXPECT_EQ(show("150:20:1:\u0600x:100"), "150 20 1 100");
    // Characters that are no joiners: precomposed e-acute, a CJK ideograph, an emoji.
    EXPECT_EQ(show("\u00E9:150:\u4E00:20:1:\U0001F600:100"), "150 20 1 100");
    // Only the ":" next to the joiner is absorbed.
    EXPECT_EQ(show("150:20:1:100::\u0301"), "150 20 1 100");
}

TEST(StepInvalidBytes, EachIsACharacterThatJoinsNothing) {
    // A stray byte makes only its own piece no number.
    EXPECT_EQ(show("150:20:1\xFF:100:5"), "150 20 1 5");
    EXPECT_EQ(show("\x80:150:20:1:100"), "150 20 1 100");
    // The accent's bytes cut short, alone, or overlong are no accent.
    for (const char* bytes : {"\xCC", "\x81", "\xE0\x8C\x81", "\xF0\x80\x8C\x81"})
        EXPECT_EQ(show(std::string("150:20:1:100:") + bytes + "5"), "150 20 1 100") << bytes;
    // A prepend character followed by a stray continuation byte: the stray
    // byte, not the prepend character, is what comes before the ":".
    EXPECT_EQ(show("150:20:1:100\xD8\x80\x80:5"), "150 20 1 5");
    // A truncated sequence before a valid prepend character leaves it valid.
    EXPECT_EQ(show("150:20:1:100\xF0\x9F\xD8\x80:5"), "none");
}

}  // namespace
