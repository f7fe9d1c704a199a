// A framework that misbehaves, through the real binary: one that cannot be
// bound whole, and failure statuses of either sign.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tool.h"

using testing::ElementsAre;

namespace {

TEST(Loading, AFrameworkWithAnUnboundReferenceIsRefusedAtLoad) {
#ifdef __APPLE__
    GTEST_SKIP() << "a Mac's linker makes no library with an undefined reference, and its loader "
                    "binds every reference at load however it is asked";
#endif
    // The tool must refuse it with its usual line, not die at the first call
    // with the loader's own status.
    const std::string name = "libmultitouch_sim_unbound.so";
    // Bound at once the variant does not load; lazily it does. Otherwise the
    // runs below would show nothing about how the tool loads it. (Once loaded
    // it stays, so the refusal is seen first.)
    std::string path = std::string(SIM_DIR) + "/" + name;
    ASSERT_FALSE(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    ASSERT_TRUE(dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL)) << dlerror();

    Options unbound;
    unbound.library = name;
    for (auto& args : std::vector<std::vector<std::string>>{{"--check"}, {"1", "150:20:1:0"}}) {
        Outcome run = runThrum(args, unbound);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_EQ(run.err, "no MTDeviceCreateList\n") << args[0];
        EXPECT_TRUE(run.log.empty()) << args[0] << ": " << run.log.front();
    }
}

TEST(Discovery, EveryStatusButZeroIsAFailureWhateverItsSign) {
    for (std::string status : {"1", "-1", "2147483647", "-2147483648"}) {
        Options options;
        options.env = {{"MTSIM_DEVICES", "noid=5,noopen=6,motor=7"}, {"MTSIM_FAIL_STATUS", status}};
        Outcome run = runThrum({"1", "150:0:1:0"}, options);
        EXPECT_EQ(run.status, 0) << status << ": " << run.err;
        EXPECT_THAT(events(run, "getID"),
                    ElementsAre("getID device=0 -> " + status, "getID device=1 -> 0", "getID device=2 -> 0"));
        EXPECT_THAT(events(run, "createActuator"),
                    ElementsAre("createActuator id=6 -> actuator@1", "createActuator id=7 -> actuator@2"));
        EXPECT_THAT(events(run, "openActuator"),
                    ElementsAre("openActuator actuator@1 -> " + status, "openActuator actuator@2 -> 0"));
        EXPECT_THAT(events(run, "destroy"), ElementsAre("destroy actuator@1", "destroy actuation@1")) << status;
        auto fired = events(run, "actuate");
        ASSERT_EQ(fired.size(), 1u) << status;
        EXPECT_THAT(fired[0], testing::HasSubstr(" motor=actuator@2 ")) << status;
    }
}

}  // namespace
