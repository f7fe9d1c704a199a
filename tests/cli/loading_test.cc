// Loading a framework that cannot be bound whole: the tool must refuse it at
// load with its usual line, not die at the first call with the loader's status.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tool.h"

namespace {

TEST(Loading, AFrameworkWithAnUnboundReferenceIsRefusedAtLoad) {
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

}  // namespace
