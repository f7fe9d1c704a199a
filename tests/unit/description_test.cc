// The description and play in-process, through whichever CoreFoundation is
// linked: the stand-in here, the platform's own on a Mac, where the process
// tests against the simulated trackpad do not run.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "haptics/description.h"
#include "haptics/framework.h"
#include "haptics/motors.h"
#include "haptics/play.h"

namespace {

std::string text(CFTypeRef node) {
    if (CFGetTypeID(node) != CFStringGetTypeID())
        return "?";
    char buffer[64];
    if (!CFStringGetCString(static_cast<CFStringRef>(node), buffer, sizeof buffer, kCFStringEncodingUTF8))
        return "?";
    return buffer;
}

// The tree as the framework receives it, with the kind of every node and
// dictionary keys in byte order. Off the Mac, any node whose retain count is
// not 1 is marked: inside a fresh dictionary its parent must be its only
// owner. (The platform shares small strings and numbers, so counts mean
// nothing there.)
std::string render(CFTypeRef node, bool key = false) {
    // A stream rather than string concatenation: GCC 12 at -O3 warns falsely
    // (-Wrestrict) about the latter here.
    std::ostringstream out;
    CFTypeID type = CFGetTypeID(node);
    if (type == CFDictionaryGetTypeID()) {
        auto dictionary = static_cast<CFDictionaryRef>(node);
        CFIndex count = CFDictionaryGetCount(dictionary);
        std::vector<const void*> keys(count), values(count);
        CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
        std::vector<std::string> entries;
        for (CFIndex i = 0; i < count; ++i)
            entries.push_back(render(keys[i], true) + "=" + render(values[i]));
        std::sort(entries.begin(), entries.end());
        out << '{';
        for (size_t i = 0; i < entries.size(); ++i)
            out << (i ? "," : "") << entries[i];
        out << '}';
    } else if (type == CFArrayGetTypeID()) {
        auto array = static_cast<CFArrayRef>(node);
        out << '[';
        for (CFIndex i = 0; i < CFArrayGetCount(array); ++i)
            out << (i ? "," : "") << render(CFArrayGetValueAtIndex(array, i));
        out << ']';
    } else if (type == CFStringGetTypeID()) {
        out << (key ? "" : "str:") << text(node);
    } else if (type == CFNumberGetTypeID()) {
        auto number = static_cast<CFNumberRef>(node);
        double value = 0;
        CFNumberGetValue(number, kCFNumberFloat64Type, &value);
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%a", value);
        out << (CFNumberGetType(number) == kCFNumberFloat64Type ? "f64:" : "notf64:") << buffer;
    } else {
        out << '?';
    }
#ifndef __APPLE__
    if (CFGetRetainCount(node) != 1)
        out << "(refs=" << CFGetRetainCount(node) << ')';
#endif
    return out.str();
}

std::string tree(const char* base, const char* durationMS, const char* frequencykHz) {
    return std::string("{BaseWaveform={Amplitude=f64:") + base + ",DurationMS=f64:" + durationMS +
           ",Type=str:Gaussian},Tones=[{Amplitude=f64:0x1p+0,DelayMS=f64:0x0p+0,DurationMS=f64:" + durationMS +
           ",FrequencykHz=f64:" + frequencykHz + ",Type=str:Sine}]}";
}

TEST(Description, HoldsOneToneOfFloatNumbersWhateverTheStep) {
    struct {
        Step step;
        std::string expected;
    } cases[] = {
        {{150, 25, 1, 80}, tree("0x0p+0", "0x1.9p+4", "0x1.3333333333333p-3")},
        // 175 / 1000 is not 0.175 in every rounding; the division must be the 64-bit one.
        {{175, 12.5, 0.5f, 0}, tree("0x0p+0", "0x1.9p+3", "0x1.6666666666666p-3")},
        {{0, 0, 0, 5000}, tree("0x0p+0", "0x0p+0", "0x0p+0")},
        {{20000, 0.001, 1, 0}, tree("0x0p+0", "0x1.0624dd2f1a9fcp-10", "0x1.4p+4")},
    };
    for (auto& c : cases) {
        CFDictionaryRef made = platformDictionary(describe(c.step));
        EXPECT_EQ(render(made), c.expected) << c.step.hz << " Hz, " << c.step.ms << " ms";
        CFRelease(made);
    }
}

// What the fake framework saw, one line per call.
std::vector<std::string> calls;
CFTypeRef lastDescription;
CFTypeRef lastActuation;

CFTypeRef fakeCreateActuation(CFDictionaryRef description, int32_t options) {
    calls.push_back("create options=" + std::to_string(options) + " " + render(description));
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
    std::snprintf(line, sizeof line,
                  "actuate descriptionRefs=%ld same=%d refs=%ld motor=%p arg3=%u intensity=%08x arg5=%08x",
                  long(CFGetRetainCount(lastDescription)), actuation == lastActuation,
                  long(CFGetRetainCount(actuation)), motor, arg3, std::bit_cast<uint32_t>(intensity),
                  std::bit_cast<uint32_t>(arg5));
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
    createActuation = fakeCreateActuation;
    actuate = fakeActuate;
    std::string created = "create options=0 " + tree("0x0p+0", "0x1.9p+4", "0x1.3333333333333p-3");
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
    motors.clear();
}

}  // namespace
