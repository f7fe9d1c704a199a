// The simulated trackpad itself: the loader redirect, the settings, and the
// log of what a caller does with descriptions, actuations and the device list.
#include <CoreFoundation/CoreFoundation.h>
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

#include "tool.h"

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

const char frameworkPath[] = "/System/Library/PrivateFrameworks/MultitouchSupport.framework/MultitouchSupport";
const char simulation[] = SIM_DIR "/libmultitouch_sim" LIBRARY_SUFFIX;

using Open = void* (*)(const char*, int);

#ifdef __APPLE__
const char otherLibrary[] = "/usr/lib/libz.1.dylib";

// The redirect's replacement for dlopen, found through its interpose section
// as dyld finds it; null unless that holds one pair and it replaces dlopen.
Open redirectedOpen(void* redirect) {
    for (uint32_t image = 0; image < _dyld_image_count(); ++image) {
        if (dlopen(_dyld_get_image_name(image), RTLD_NOLOAD) != redirect)
            continue;
        auto* header = reinterpret_cast<const mach_header_64*>(_dyld_get_image_header(image));
        auto* command = reinterpret_cast<const load_command*>(header + 1);
        for (uint32_t i = 0; i < header->ncmds; ++i) {
            auto* segment = reinterpret_cast<const segment_command_64*>(command);
            command = reinterpret_cast<const load_command*>(reinterpret_cast<const char*>(command) + command->cmdsize);
            if (segment->cmd != LC_SEGMENT_64)
                continue;
            auto* sections = reinterpret_cast<const section_64*>(segment + 1);
            for (uint32_t k = 0; k < segment->nsects; ++k) {
                if (strncmp(sections[k].sectname, "__interpose", sizeof sections[k].sectname) != 0)
                    continue;
                auto* pair = reinterpret_cast<void* const*>(sections[k].addr + _dyld_get_image_vmaddr_slide(image));
                Dl_info replacee;
                if (sections[k].size != 2 * sizeof(void*) || !dladdr(pair[1], &replacee) || !replacee.dli_sname ||
                    strcmp(replacee.dli_sname, "dlopen") != 0)
                    return nullptr;
                return reinterpret_cast<Open>(pair[0]);
            }
        }
    }
    return nullptr;
}
#else
const char otherLibrary[] = "libm.so.6";

Open redirectedOpen(void* redirect) {
    return reinterpret_cast<Open>(dlsym(redirect, "dlopen"));
}
#endif

struct Framework {
    CFArrayRef (*createList)();
    int32_t (*getID)(const void*, uint64_t*);
    CFTypeRef (*createActuator)(uint64_t);
    int32_t (*openActuator)(CFTypeRef);
    CFTypeRef (*createActuation)(CFDictionaryRef, int32_t);
    int32_t (*actuate)(CFTypeRef, CFTypeRef, uint32_t, float, float);
};

template <typename Function>
void resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (!function)
        _exit(2);
}

// A check inside the child: failing it ends the child with status 3.
void require(bool condition) {
    if (!condition)
        _exit(3);
}

// Loads the simulation in a child process set up as for the tool, makes
// `calls` there, and returns the child's status and the simulation's log.
Outcome simulate(const Options& options, void (*calls)(const Framework&)) {
    return runChild(options, [calls] {
        void* library = dlopen(simulation, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return 2;
        Framework framework;
        resolve(library, "MTDeviceCreateList", framework.createList);
        resolve(library, "MTDeviceGetDeviceID", framework.getID);
        resolve(library, "MTActuatorCreateFromDeviceID", framework.createActuator);
        resolve(library, "MTActuatorOpen", framework.openActuator);
        resolve(library, "MTActuationCreateFromDictionary", framework.createActuation);
        resolve(library, "MTActuationActuate", framework.actuate);
        calls(framework);
        return 0;
    });
}

CFTypeRef text(const char* value) {
    return CFStringCreateWithCString(kCFAllocatorDefault, value, kCFStringEncodingUTF8);
}

template <typename Value>
CFTypeRef number(CFNumberType type, Value value) {
    return CFNumberCreate(kCFAllocatorDefault, type, &value);
}

// A container that takes over the references of `values` (and `keys`).
CFTypeRef array(std::vector<CFTypeRef> values) {
    CFArrayRef made = CFArrayCreate(kCFAllocatorDefault, values.data(), CFIndex(values.size()), &kCFTypeArrayCallBacks);
    for (CFTypeRef value : values)
        CFRelease(value);
    return made;
}

CFDictionaryRef dictionary(std::vector<const char*> keys, std::vector<CFTypeRef> values) {
    std::vector<CFTypeRef> keyRefs;
    for (const char* key : keys)
        keyRefs.push_back(text(key));
    CFDictionaryRef made =
        CFDictionaryCreate(kCFAllocatorDefault, keyRefs.data(), values.data(), CFIndex(values.size()),
                           &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    for (size_t i = 0; i < keys.size(); ++i) {
        CFRelease(keyRefs[i]);
        CFRelease(values[i]);
    }
    return made;
}

CFDictionaryRef small() {
    return dictionary({"Type"}, {text("Sine")});
}

// An opened motor from the default device list.
CFTypeRef motor(const Framework& mt) {
    CFArrayRef list = mt.createList();
    uint64_t id = 0;
    require(mt.getID(CFArrayGetValueAtIndex(list, 0), &id) == 0 && id == 1);
    CFTypeRef actuator = mt.createActuator(id);
    require(mt.openActuator(actuator) == 0);
    return actuator;
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
    Outcome run = simulate({}, [](const Framework& mt) {
        CFDictionaryRef description =
            dictionary({"Zeta", "Alpha", "List", "Empty"},
                       {number(kCFNumberSInt32Type, -12), number(kCFNumberFloat32Type, 0.1f),
                        array({text("x y"), number(kCFNumberFloat64Type, -0.0), number(kCFNumberFloat64Type, 25.0)}),
                        dictionary({}, {})});
        require(mt.createActuation(description, -3) != nullptr);
        CFRelease(description);
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.log, ElementsAre("load libmultitouch_sim" LIBRARY_SUFFIX,
                                     "createActuation options=-3 refs=1 strayRefs=0 "
                                     "description={Alpha=f32:0x1.99999ap-4,Empty={},"
                                     "List=[str:x y,f64:-0x0p+0,f64:0x1.9p+4],Zeta=int:-12} -> actuation@1"));
}

TEST(Simulation, EachDescriptionIsCheckedOnceForTheCallersReference) {
    // Released before the first actuate: dropped, and checked only once.
    Outcome dropped = simulate({}, [](const Framework& mt) {
        CFTypeRef actuator = motor(mt);
        CFDictionaryRef description = small();
        CFTypeRef actuation = mt.createActuation(description, 0);
        CFRelease(description);
        mt.actuate(actuation, actuator, 0, 1, 0);
        mt.actuate(actuation, actuator, 0, 1, 0);
        CFRelease(actuation);
    });
    EXPECT_THAT(after(dropped.log, "openActuator"),
                ElementsAre(HasSubstr("-> actuation@1"), "dropped description@1", HasSubstr("actuate actuation@1"),
                            HasSubstr("actuate actuation@1"), "destroy actuation@1"));

    // Still held at the next creation, with an extra reference on a child: a
    // container, as a short text's count may never move.
    Outcome kept = simulate({}, [](const Framework& mt) {
        CFTypeRef tones = array({small()});
        CFRetain(tones);
        CFDictionaryRef first = dictionary({"Tones"}, {tones});
        CFRetain(first);
        mt.createActuation(first, 0);
        CFDictionaryRef second = small();
        mt.createActuation(second, 0);
        CFRelease(second);
    });
    EXPECT_THAT(
        after(kept.log, "load"),
        ElementsAre("createActuation options=0 refs=2 strayRefs=1 description={Tones=[{Type=str:Sine}]} -> actuation@1",
                    "kept description@1 refs=2", HasSubstr("refs=1 strayRefs=0 ")));

    // Never actuated: the end of the actuation is the check.
    Outcome unused = simulate({}, [](const Framework& mt) {
        CFDictionaryRef description = small();
        CFTypeRef actuation = mt.createActuation(description, 0);
        CFRelease(description);
        CFRelease(actuation);
    });
    EXPECT_THAT(after(unused.log, "createActuation"), ElementsAre("dropped description@1", "destroy actuation@1"));
}

TEST(Simulation, ActuationsFollowTheSettings) {
    Outcome run =
        simulate(withEnv({{"MTSIM_NULL_ACTUATION", "2"}, {"MTSIM_ACTUATE_STATUS", "-7"}, {"MTSIM_DELAY", "2:60"}}),
                 [](const Framework& mt) {
                     CFTypeRef actuator = motor(mt);
                     CFDictionaryRef description = small();
                     CFTypeRef first = mt.createActuation(description, 0);
                     require(mt.createActuation(description, 0) == nullptr);
                     CFTypeRef third = mt.createActuation(description, 0);
                     CFRelease(description);
                     require(mt.actuate(first, actuator, 7, -0.0f, 1.0f) == -7);
                     require(mt.actuate(third, nullptr, 0, 0.5f, 0) == -7);
                     mt.actuate(actuator, third, 4294967295u, 1, 0);
                 });
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
    Outcome run = simulate(withEnv({{"MTSIM_DEVICES", "null,motor,null"}}), [](const Framework& mt) {
        CFArrayRef list = mt.createList();
        require(CFArrayGetCount(list) == 3 && !CFArrayGetValueAtIndex(list, 0) && !CFArrayGetValueAtIndex(list, 2));
        uint64_t id = 5;
        require(mt.getID(nullptr, &id) == 1 && id == 5);
        CFRelease(list);
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(after(run.log, "load"), ElementsAre("createList -> list", "getID device=null -> 1", "destroy list"));
}
