// The report's probe (probe/probe.cc) on the simulation: every odd answer the
// framework can give is one line of its Markdown, and it always ends well.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tool.h"

using testing::HasSubstr;
using testing::Not;

namespace {

Outcome probe(const std::string& devices, const Options& base = {}) {
    Options options = base;
    options.env.emplace_back("MTSIM_DEVICES", devices);
    options.killAfterSeconds = 20;
    return runProgram(PROBE_BINARY, {}, options);
}

}  // namespace

TEST(Probe, NamesEveryFunctionFoundOrMissing) {
    Outcome whole = probe("motor");
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_THAT(whole.out, HasSubstr("- It loads from `/System/Library/PrivateFrameworks/"));
    EXPECT_THAT(whole.out, HasSubstr("\n- 6 of 6 functions found.\n"));

    Options lacking;
    lacking.library = "libmultitouch_sim_no_MTActuatorOpen_MTActuationActuate" LIBRARY_SUFFIX;
    Outcome run = probe("motor=3", lacking);
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* name : {"MTDeviceCreateList", "MTDeviceGetDeviceID", "MTActuatorCreateFromDeviceID",
                             "MTActuationCreateFromDictionary"})
        EXPECT_THAT(run.out, testing::ContainsRegex(std::string("\n- `") + name + "`: found")) << name;
    EXPECT_THAT(run.out, HasSubstr("\n- `MTActuatorOpen`: **missing**\n"));
    EXPECT_THAT(run.out, HasSubstr("\n- `MTActuationActuate`: **missing**\n"));
    EXPECT_THAT(run.out, HasSubstr("\n- 4 of 6 functions found.\n"));
    // What it can still ask, it asks.
    EXPECT_THAT(run.out, HasSubstr("- Device 1: ID 3; an actuator is created; it cannot be opened"));
}

TEST(Probe, GivesEachDeviceItsLineAndNeverPlays) {
    Outcome run = probe("motor=7,noopen=9,noid,noactuator=4,null,null", withEnv({{"MTSIM_FAIL_STATUS", "-5"}}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("\n## 3. The devices\n\n- The framework lists 6 devices.\n"
                                   "- Device 1: ID 7; an actuator is created; it opens (`MTActuatorOpen` returned 0).\n"
                                   "- Device 2: ID 9; an actuator is created; it **does not open** "
                                   "(`MTActuatorOpen` returned -5).\n"
                                   "- Device 3: **no ID** (`MTDeviceGetDeviceID` returned -5).\n"
                                   "- Device 4: ID 4; **no actuator** is created for it.\n"
                                   "- Device 5: **a null entry** in the list.\n"
                                   "- Device 6: **a null entry** in the list.\n"
                                   "- Actuators that open: 1.\n"
                                   "- The framework creates an actuation"));
    EXPECT_TRUE(events(run, "actuate").empty());
    // The description the framework was given is the tool's, whole.
    auto created = events(run, "createActuation");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_THAT(created[0], HasSubstr("DurationMS=f64:0x1.9p+4,FrequencykHz=f64:0x1.3333333333333p-3,Type=str:Sine"));
    EXPECT_THAT(created[0], HasSubstr("strayRefs=0"));
}

TEST(Probe, ReportsAnEmptyOrNullListAndARefusedActuation) {
    Outcome empty = probe("", withEnv({{"MTSIM_NULL_ACTUATION", "1"}}));
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_THAT(empty.out, HasSubstr("\n- **No devices**: the framework lists none.\n"));
    EXPECT_THAT(empty.out,
                HasSubstr("\n- **The actuation is refused**: `MTActuationCreateFromDictionary` returned null"));

    Outcome none = probe("null");
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_THAT(none.out, HasSubstr("\n- **No device list**: `MTDeviceCreateList` returned null.\n"));
    EXPECT_THAT(none.out, Not(HasSubstr("refused")));
}

TEST(Probe, WithoutTheFrameworkEveryFunctionIsMissingAndNothingIsAsked) {
#ifdef __APPLE__
    GTEST_SKIP() << "on a Mac the fixed path is the real framework, which loads";
#endif
    Options bare;
    bare.redirect = false;
    Outcome run = runProgram(PROBE_BINARY, {}, bare);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("- **It does not load** from `/System/"));
    EXPECT_THAT(run.out, HasSubstr("\n- 0 of 6 functions found.\n"));
    EXPECT_THAT(run.out, HasSubstr("- No device list can be asked for (`MTDeviceCreateList` is missing).\n"));
    EXPECT_THAT(run.out, HasSubstr("- No actuation can be asked for"));
}
