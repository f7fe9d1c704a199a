// Start-up through the real binary: loading the framework, discovering the
// motors and the check request.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

Options devices(const std::string& list) {
    return withEnv({{"MTSIM_DEVICES", list}});
}

// Command lines that every start-up failure must win over.
const std::vector<std::vector<std::string>> anyCommandLine = {{"--check"}, {"1", "150:20:1:0"}, {}, {"\xff junk"}};

}  // namespace

TEST(Binding, WithoutTheFrameworkTheFirstFunctionIsNamed) {
#ifdef __APPLE__
    GTEST_SKIP() << "on a Mac the fixed path is the real framework, which loads";
#endif
    Options bare;
    bare.redirect = false;
    for (auto& args : anyCommandLine) {
        Outcome run = runThrum(args, bare);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "no MTDeviceCreateList\n");
        EXPECT_EQ(run.out, "");
    }
}

TEST(Binding, TheFirstMissingFunctionIsNamedBeforeAnyDeviceIsListed) {
    const char* names[] = {"MTDeviceCreateList",
                           "MTDeviceGetDeviceID",
                           "MTActuatorCreateFromDeviceID",
                           "MTActuatorOpen",
                           "MTActuationCreateFromDictionary",
                           "MTActuationActuate"};
    for (const char* name : names) {
        Options options;
        options.library = std::string("libmultitouch_sim_no_") + name + LIBRARY_SUFFIX;
        Outcome run = runThrum({"--check"}, options);
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.err, std::string("no ") + name + "\n");
        EXPECT_THAT(events(run, "load"), testing::SizeIs(1)) << "the variant was not loaded";
        EXPECT_THAT(events(run, "createList"), IsEmpty()) << name;
    }
    Options both;
    both.library = "libmultitouch_sim_no_MTActuatorOpen_MTActuationActuate" LIBRARY_SUFFIX;
    EXPECT_EQ(runThrum({"1"}, both).err, "no MTActuatorOpen\n");
}

TEST(Discovery, WithoutAUsableMotorEveryCommandLineFails) {
    for (const char* list : {"null", "", "null,noid,noactuator=1,noopen=2"}) {
        for (auto& args : anyCommandLine) {
            Outcome run = runThrum(args, devices(list));
            EXPECT_EQ(run.status, 1) << list;
            EXPECT_EQ(run.err, "no trackpad with a haptic motor\n") << list;
            EXPECT_EQ(run.out, "");
        }
    }
}

TEST(Discovery, ANullListOrAnEmptyOneAsksNothingMore) {
    Outcome none = runThrum({"--check"}, devices("null"));
    EXPECT_THAT(none.log, ElementsAre(testing::StartsWith("load "), "createList -> null"));
    Outcome empty = runThrum({"--check"}, devices(""));
    EXPECT_THAT(empty.log, ElementsAre(testing::StartsWith("load "), "createList -> list"));
}

TEST(Discovery, EachElementIsHandledAloneAndInOrder) {
    Outcome run = runThrum({"--check"}, devices("motor=7,null,noid,noactuator=8,noopen=9,motor,motor=7"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(
        run.log,
        ElementsAre(testing::StartsWith("load "), "createList -> list", "getID device=0 -> 0",
                    "createActuator id=7 -> actuator@1", "openActuator actuator@1 -> 0",
                    // the null element is never looked up
                    "getID device=2 -> 1", "getID device=3 -> 0", "createActuator id=8 -> null", "getID device=4 -> 0",
                    "createActuator id=9 -> actuator@2", "openActuator actuator@2 -> -1", "destroy actuator@2",
                    // an ID that is not written stays the 0 the tool set
                    "getID device=5 -> 0", "createActuator id=0 -> actuator@3", "openActuator actuator@3 -> 0",
                    // a repeated ID is opened again
                    "getID device=6 -> 0", "createActuator id=7 -> actuator@4", "openActuator actuator@4 -> 0"));
}

TEST(Discovery, EveryActuatorThatFailsToOpenIsReleasedOnce) {
    Outcome run = runThrum({"--check"}, devices("noopen=1,noopen=2,noopen=3"));
    EXPECT_EQ(run.err, "no trackpad with a haptic motor\n");
    EXPECT_THAT(events(run, "destroy"), ElementsAre("destroy actuator@1", "destroy actuator@2", "destroy actuator@3"));
}

TEST(Discovery, OpenMotorsAndTheListAreHeldUntilTheEnd) {
    Options two = devices("motor=1,motor=2");
    for (auto& args : std::vector<std::vector<std::string>>{{"--check"}, {"1", "150:0:1:0"}, {"1", "x"}}) {
        Outcome run = runThrum(args, two);
        // Only the actuation of each played step is ever released.
        for (auto& line : events(run, "destroy"))
            EXPECT_EQ(line.rfind("destroy actuation@", 0), 0u) << args.back() << ": " << line;
    }
}

TEST(Discovery, MotorsPlayInListOrder) {
    Outcome run = runThrum({"1", "150:0:1:0"}, devices("motor=1,noopen=2,motor=3"));
    EXPECT_EQ(run.status, 0) << run.err;
    auto fired = events(run, "actuate");
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_THAT(fired[0], testing::HasSubstr("motor=actuator@1 "));
    EXPECT_THAT(fired[1], testing::HasSubstr("motor=actuator@3 "));
}

TEST(Check, WithAMotorItAnswersQuietlyAndPlaysNothing) {
    Outcome run = runThrum({"--check"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(events(run, "createActuation"), IsEmpty());
    EXPECT_THAT(events(run, "actuate"), IsEmpty());
}

TEST(Check, OnlyTheExactWholeCommandLineIsTheCheck) {
    for (auto& args : std::vector<std::vector<std::string>>{
             {"--check", "--check"}, {"--Check"}, {"--check "}, {" --check"}, {"-check"}, {"--check", "1"}, {}}) {
        Outcome run = runThrum(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "no strength\n");
    }
    Outcome asStep = runThrum({"1", "--check"});
    EXPECT_EQ(asStep.err, "not a step: --check\n");
    EXPECT_THAT(events(asStep, "createActuation"), IsEmpty());
}

TEST(Check, AProcessWithNoArgumentsAtAllHasNoStrength) {
    Options options;
    options.noArgv = true;
    Outcome run = runThrum({}, options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "no strength\n");
}
