// The description and play in-process, through whichever CoreFoundation is
// linked: the stand-in here, the platform's own on a Mac, where the process
// tests against the simulated trackpad do not run. The platform shares some
// numbers and short texts as immortal objects, so no check here leans on an
// absolute count below the top: strayRefs compares each count with what the
// tree holds.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cftree.h"
#include "description_text.h"
#include "haptics/description.h"
#include "haptics/framework.h"
#include "haptics/motors.h"
#include "haptics/play.h"

namespace {

TEST(Description, HoldsOneToneOfFloatNumbersWhateverTheStep) {
    struct {
        Step step;
        std::string expected;
    } cases[] = {
        {{150, 25, 1, 80}, descriptionText("0x1.9p+4", "0x1.3333333333333p-3")},
        // 175 / 1000 is not 0.175 in every rounding; the division must be the 64-bit one.
        {{175, 12.5, 0.5f, 0}, descriptionText("0x1.9p+3", "0x1.6666666666666p-3")},
        {{0, 0, 0, 5000}, descriptionText("0x0p+0", "0x0p+0")},
        {{20000, 0.001, 1, 0}, descriptionText("0x1.0624dd2f1a9fcp-10", "0x1.4p+4")},
    };
    for (auto& c : cases) {
        // The caller's reference is the only one; nothing inside is held twice.
        CFDictionaryRef made = createPlatformDictionary(describe(c.step));
        EXPECT_EQ(treeText(made), c.expected) << c.step.hz << " Hz, " << c.step.ms << " ms";
        EXPECT_EQ(CFGetRetainCount(made), 1) << c.step.hz << " Hz";
        EXPECT_EQ(strayRefs(made), 0) << c.step.hz << " Hz";
        CFRelease(made);
    }
}

// What the fake framework saw, one line per call.
std::vector<std::string> calls;
CFTypeRef lastDescription;
CFTypeRef lastActuation;

CFTypeRef fakeCreateActuation(CFDictionaryRef description, int32_t options) {
    calls.push_back("create options=" + std::to_string(options) +
                    " refs=" + std::to_string(CFGetRetainCount(description)) +
                    " strayRefs=" + std::to_string(strayRefs(description)) + " " + treeText(description));
    // Keep one reference of our own to each, to see what play does with its own.
    lastDescription = CFRetain(description);
    // Not empty: an empty array may be a shared constant with no count of its own.
    const void* content = CFStringCreateWithCString(kCFAllocatorDefault, "actuation", kCFStringEncodingUTF8);
    lastActuation = CFArrayCreate(kCFAllocatorDefault, &content, 1, &kCFTypeArrayCallBacks);
    CFRelease(content);
    return CFRetain(lastActuation);
}

int32_t fakeActuate(CFTypeRef actuation, CFTypeRef motor, uint32_t arg3, float intensity, float arg5) {
    char line[200];
    std::snprintf(
        line, sizeof line, "actuate descriptionRefs=%ld same=%d refs=%ld motor=%p arg3=%u intensity=%08x arg5=%08x",
        long(CFGetRetainCount(lastDescription)), actuation == lastActuation, long(CFGetRetainCount(actuation)), motor,
        arg3, std::bit_cast<uint32_t>(intensity), std::bit_cast<uint32_t>(arg5));
    calls.push_back(line);
    return -1;  // a failure, which play must ignore
}

std::string actuated(const char* motor) {
    // By the first actuate play has let go of the description, but it holds
    // the actuation until the last motor has been asked.
    return std::string("actuate descriptionRefs=1 same=1 refs=2 motor=") + motor +
           " arg3=0 intensity=3f000000 arg5=00000000";
}

TEST(Play, FiresOneActuationOnEveryMotorInOrderThenReleasesIt) {
    // What the rest of the suite sees is put back however this test ends.
    struct Saved {
        decltype(createActuation) savedCreateActuation = createActuation;
        decltype(actuate) savedActuate = actuate;
        std::vector<MotorHandle> savedMotors = motors;
        ~Saved() {
            createActuation = savedCreateActuation;
            actuate = savedActuate;
            motors = std::move(savedMotors);  // a move, which cannot throw in a destructor
        }
    } saved;
    createActuation = fakeCreateActuation;
    actuate = fakeActuate;
    std::string created = "create options=0 refs=1 strayRefs=0 " + descriptionText("0x1.9p+4", "0x1.3333333333333p-3");
    struct {
        std::vector<MotorHandle> motors;
        std::vector<std::string> calls;
    } cases[] = {
        {{reinterpret_cast<MotorHandle>(0x10), reinterpret_cast<MotorHandle>(0x20)},
         {created, actuated("0x10"), actuated("0x20")}},
        {{}, {created}},
    };
    for (auto& c : cases) {
        motors = c.motors;
        calls.clear();
        play({150, 25, 1, 80}, 0.5f);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(CFGetRetainCount(lastDescription), 1);
        EXPECT_EQ(CFGetRetainCount(lastActuation), 1);
        CFRelease(lastDescription);
        CFRelease(lastActuation);
    }
}

}  // namespace
