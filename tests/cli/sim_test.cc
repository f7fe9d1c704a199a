// The simulated trackpad itself: the loader redirect, the settings, and the
// log of what a caller does with descriptions, actuations and the device list.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include "macho.h"
#include "tool.h"

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

const char frameworkPath[] = "/System/Library/PrivateFrameworks/MultitouchSupport.framework/MultitouchSupport";

using Open = void* (*)(const char*, int);

#ifdef __APPLE__
const char otherLibrary[] = "/usr/lib/libz.1.dylib";

// The redirect's replacement for dlopen, found through its interpose pairs as
// dyld finds it; null unless one of them replaces dlopen.
Open redirectedOpen(void* redirect) {
    for (uint32_t image = 0; image < _dyld_image_count(); ++image) {
        std::vector<InterposePair> pairs;
        if (dlopen(_dyld_get_image_name(image), RTLD_NOLOAD) != redirect ||
            !interposePairs(_dyld_get_image_header(image), pairs))
            continue;
        for (auto& pair : pairs)
            if (pair.replacee == reinterpret_cast<const void*>(&dlopen))
                return reinterpret_cast<Open>(const_cast<void*>(pair.replacement));
    }
    return nullptr;
}
#else
const char otherLibrary[] = "libm.so.6";

Open redirectedOpen(void* redirect) {
    return reinterpret_cast<Open>(dlsym(redirect, "dlopen"));
}
#endif

// Runs the scenario of framework calls `name` (tests/cli/scenario.cc) on the
// simulation, loaded by its path in a fresh process with the tool's
// environment, and returns its status and the simulation's log.
Outcome simulate(Options options, const char* name) {
    options.redirect = false;
    return runProgram(SCENARIO_BINARY, {name}, options);
}

std::vector<std::string> after(const std::vector<std::string>& log, const std::string& prefix) {
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].rfind(prefix, 0) == 0)
            return {log.begin() + long(i) + 1, log.end()};
    return {};
}

}  // namespace

TEST(Redirect, OnlyTheFrameworkPathIsRedirected) {
    void* redirect = dlopen(REDIRECT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(redirect, nullptr) << dlerror();
    Open redirected = redirectedOpen(redirect);
    ASSERT_NE(redirected, nullptr);

    EXPECT_EQ(redirected(otherLibrary, RTLD_NOW), dlopen(otherLibrary, RTLD_NOW));
    EXPECT_EQ(redirected(nullptr, RTLD_NOW), dlopen(nullptr, RTLD_NOW));
    EXPECT_EQ(redirected((std::string(frameworkPath) + "/").c_str(), RTLD_NOW), nullptr);
    EXPECT_EQ(redirected("MultitouchSupport", RTLD_NOW), nullptr);

    setenv("MTSIM_LIBRARY", SIM_DIR "/libmultitouch_sim_no_MTActuationActuate" LIBRARY_SUFFIX, 1);
    void* simulation = redirected(frameworkPath, RTLD_NOW);
    unsetenv("MTSIM_LIBRARY");
    ASSERT_NE(simulation, nullptr);
    EXPECT_NE(dlsym(simulation, "MTActuationCreateFromDictionary"), nullptr);
    EXPECT_EQ(dlsym(simulation, "MTActuationActuate"), nullptr);
}

TEST(Redirect, AMissingSimulationLoadsNothing) {
    Options missing;
    missing.library = "libmultitouch_sim_missing" LIBRARY_SUFFIX;
    Outcome run = runThrum({"--check"}, missing);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "no MTDeviceCreateList\n");
    EXPECT_THAT(run.log, IsEmpty());
}

TEST(Settings, DeviceIDsSpanSixtyFourBits) {
    Outcome run = runThrum({"--check"}, withEnv({{"MTSIM_DEVICES", "noopen=0,motor=18446744073709551615"}}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(events(run, "createActuator"), ElementsAre("createActuator id=0 -> actuator@1",
                                                           "createActuator id=18446744073709551615 -> actuator@2"));
}

TEST(Settings, ASettingThatCannotBeReadStopsTheRunLoudly) {
    const std::pair<std::string, std::string> bad[] = {
        {"MTSIM_DEVICES", "motor,speaker"},
        {"MTSIM_DEVICES", "motor=18446744073709551616"},
        {"MTSIM_DEVICES", "motor=-1"},
        {"MTSIM_DEVICES", "null,"},
        {"MTSIM_NULL_ACTUATION", "0"},
        {"MTSIM_NULL_ACTUATION", "1,,2"},
        {"MTSIM_ACTUATE_STATUS", "2147483648"},
        {"MTSIM_ACTUATE_STATUS", " 1"},
        {"MTSIM_DELAY", "1"},
        {"MTSIM_DELAY", "1:5,x:5"},
    };
    for (auto& setting : bad) {
        Outcome run = runThrum({"--check"}, withEnv({setting}));
        EXPECT_EQ(run.status, 128 + SIGABRT) << setting.second;
        EXPECT_THAT(run.err, HasSubstr(setting.first + "=\"" + setting.second + "\"")) << setting.second;
    }
}

TEST(Log, StaysOffTheToolsStandardError) {
    Options closed;
    closed.closeStderr = true;
    Outcome run = runThrum({"2x"}, closed);
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.log.empty());
    for (size_t i = 0; i < run.log.size(); ++i) {
        EXPECT_GT(run.times[i], 0) << run.log[i];
        EXPECT_THAT(run.log[i], testing::Not(HasSubstr("strength")));
    }
}

TEST(Simulation, TheDescriptionIsWrittenWholeWithTheKindOfEveryNode) {
    Outcome run = simulate({}, "wholeTree");
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.log, ElementsAre("load libmultitouch_sim" LIBRARY_SUFFIX,
                                     "createActuation options=-3 refs=1 strayRefs=0 "
                                     "description={Alpha=f32:0x1.99999ap-4,Empty={},"
                                     "List=[str:x y,f64:-0x0p+0,f64:0x1.9p+4],Zeta=int:-12} -> actuation@1"));
}

TEST(Simulation, EachDescriptionIsCheckedOnceForTheCallersReference) {
    // Released before the first actuate: dropped, and checked only once.
    Outcome dropped = simulate({}, "droppedBeforeActuate");
    EXPECT_THAT(after(dropped.log, "openActuator"),
                ElementsAre(HasSubstr("-> actuation@1"), "dropped description@1", HasSubstr("actuate actuation@1"),
                            HasSubstr("actuate actuation@1"), "destroy actuation@1"));

    // Still held at the next creation, with an extra reference on a child.
    Outcome kept = simulate({}, "keptAtNextCreation");
    EXPECT_THAT(
        after(kept.log, "load"),
        ElementsAre("createActuation options=0 refs=2 strayRefs=1 description={Tones=[{Type=str:Sine}]} -> actuation@1",
                    "kept description@1 refs=2", HasSubstr("refs=1 strayRefs=0 ")));

    // Never actuated: the end of the actuation is the check.
    Outcome unused = simulate({}, "neverActuated");
    EXPECT_THAT(after(unused.log, "createActuation"), ElementsAre("dropped description@1", "destroy actuation@1"));
}

TEST(Simulation, ActuationsFollowTheSettings) {
    Outcome run = simulate(
        withEnv({{"MTSIM_NULL_ACTUATION", "2"}, {"MTSIM_ACTUATE_STATUS", "-7"}, {"MTSIM_DELAY", "2:60"}}), "settings");
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> created;
    for (auto& line : run.log)
        if (line.rfind("createActuation ", 0) == 0)
            created.push_back(line);
    EXPECT_THAT(created, ElementsAre(HasSubstr("-> actuation@1"), HasSubstr("-> null"), HasSubstr("-> actuation@2")));
    auto fired = after(run.log, "dropped description@3");
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[0], "actuate actuation@1 motor=actuator@1 arg3=7 intensity=80000000 arg5=3f800000 -> -7");
    EXPECT_EQ(fired[1], "actuate actuation@2 motor=null arg3=0 intensity=3f000000 arg5=00000000 -> -7");
    EXPECT_EQ(fired[2], "actuate ? motor=? arg3=4294967295 intensity=3f800000 arg5=00000000 -> -7");
    // The second actuate sleeps before it returns, so the third comes later.
    size_t last = run.times.size() - 1;
    EXPECT_GE(run.times[last] - run.times[last - 1], 60'000'000);
}

TEST(Simulation, TheDeviceListReportsItsEnd) {
    Outcome run = simulate(withEnv({{"MTSIM_DEVICES", "null,motor,null"}}), "listEnd");
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(after(run.log, "load"), ElementsAre("createList -> list", "getID device=null -> 1", "destroy list"));
}
