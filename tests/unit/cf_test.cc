// The CoreFoundation stand-in's ownership rules: the tests of the tool and the
// simulation lean on them to prove every release the tool owes.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// The number types and the built-in encodings are enumerations of their own,
// as on the platform: code that passes a bare integer for them builds here only
// if it would build there.
static_assert(std::is_enum_v<CFNumberType> && std::is_same_v<std::underlying_type_t<CFNumberType>, CFIndex>);
static_assert(!std::is_convertible_v<int, CFNumberType>);
static_assert(std::is_same_v<decltype(kCFNumberFloat64Type), CFNumberType>);
static_assert(std::is_same_v<decltype(CFNumberGetType(nullptr)), CFNumberType>);
static_assert(std::is_same_v<std::underlying_type_t<CFStringBuiltInEncodings>, CFStringEncoding>);
static_assert(std::is_same_v<decltype(kCFStringEncodingUTF8), CFStringBuiltInEncodings>);

std::vector<std::string> destroyed;

// An object whose end is observable the way the simulation observes its own:
// a one-element array whose release callback records the destruction.
void recordRelease(CFAllocatorRef, const void* value) {
    destroyed.push_back(static_cast<const char*>(value));
}
const CFArrayCallBacks tracking = {0, nullptr, recordRelease, nullptr, nullptr};

CFArrayRef tracked(const char* name) {
    const void* value = name;
    return CFArrayCreate(kCFAllocatorDefault, &value, 1, &tracking);
}

CFStringRef text(const char* s) {
    return CFStringCreateWithCString(kCFAllocatorDefault, s, kCFStringEncodingUTF8);
}

// Longer than any tagged string of the platform: a text of its own, counted.
const char longKey[] = "FrequencykHz";

// `a` and `b` are one shared object whose count no retain or release moves,
// which outlives any number of releases and any tree that held it.
void expectShared(CFTypeRef a, CFTypeRef b, const std::string& what) {
    EXPECT_EQ(a, b) << what;
    CFIndex count = CFGetRetainCount(a);
    EXPECT_EQ(count, 0x0fffffffffffffff) << what;
    for (int i = 0; i < 3; ++i)
        CFRelease(a);
    CFRetain(b);
    EXPECT_EQ(CFGetRetainCount(b), count) << what;
    const void* values[] = {a, b};
    CFRelease(CFArrayCreate(kCFAllocatorDefault, values, 2, &kCFTypeArrayCallBacks));
    EXPECT_EQ(CFGetRetainCount(a), count) << what;
}

class StandIn : public testing::Test {
protected:
    void SetUp() override { destroyed.clear(); }
};

TEST_F(StandIn, ObjectDiesWhenItsCountReachesZero) {
    CFArrayRef a = tracked("a");
    EXPECT_EQ(CFGetRetainCount(a), 1);
    CFRetain(a);
    CFRelease(a);
    EXPECT_TRUE(destroyed.empty());
    CFRelease(a);
    EXPECT_EQ(destroyed, std::vector<std::string>{"a"});
}

TEST_F(StandIn, ContainersRetainOnInsertionAndReleaseOnDestruction) {
    CFArrayRef child = tracked("child");
    const void* values[] = {child, child};
    CFArrayRef parent = CFArrayCreate(kCFAllocatorDefault, values, 2, &kCFTypeArrayCallBacks);
    EXPECT_EQ(CFGetRetainCount(child), 3);
    CFRelease(child);
    EXPECT_TRUE(destroyed.empty());
    CFRelease(parent);
    EXPECT_EQ(destroyed, std::vector<std::string>{"child"});

    CFStringRef key = text(longKey);
    CFArrayRef value = tracked("value");
    const void* keys[] = {key};
    const void* dictValues[] = {value};
    CFDictionaryRef dict = CFDictionaryCreate(kCFAllocatorDefault, keys, dictValues, 1, &kCFTypeDictionaryKeyCallBacks,
                                              &kCFTypeDictionaryValueCallBacks);
    EXPECT_EQ(CFGetRetainCount(key), 2);
    EXPECT_EQ(CFGetRetainCount(value), 2);
    CFRelease(key);
    CFRelease(value);
    CFRelease(dict);
    EXPECT_EQ(destroyed, (std::vector<std::string>{"child", "value"}));
}

TEST_F(StandIn, NullCallBacksNeitherRetainNorRelease) {
    CFArrayRef child = tracked("child");
    const void* values[] = {child, nullptr};
    CFArrayRef parent = CFArrayCreate(kCFAllocatorDefault, values, 2, nullptr);
    EXPECT_EQ(CFGetRetainCount(child), 1);
    EXPECT_EQ(CFArrayGetValueAtIndex(parent, 1), nullptr);
    CFRelease(parent);
    EXPECT_EQ(CFGetRetainCount(child), 1);
    CFRelease(child);
    EXPECT_EQ(destroyed, std::vector<std::string>{"child"});
}

TEST_F(StandIn, DictionaryFindsEqualKeysAndKeepsTheFirstOfTwo) {
    CFStringRef k1 = text(longKey), k2 = text(longKey), probe = text(longKey);
    CFArrayRef first = tracked("first"), second = tracked("second");
    const void* keys[] = {k1, k2};
    const void* values[] = {first, second};
    CFDictionaryRef dict = CFDictionaryCreate(kCFAllocatorDefault, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                                              &kCFTypeDictionaryValueCallBacks);
    // The later key and value were never retained: the caller's release ends the value.
    EXPECT_EQ(CFGetRetainCount(k2), 1);
    EXPECT_EQ(CFGetRetainCount(second), 1);
    CFRelease(first);
    CFRelease(second);
    EXPECT_EQ(destroyed, std::vector<std::string>{"second"});
    EXPECT_EQ(CFDictionaryGetCount(dict), 1);
    EXPECT_EQ(CFDictionaryGetValue(dict, probe), first);
    const void* gotKeys[1];
    const void* gotValues[1];
    CFDictionaryGetKeysAndValues(dict, gotKeys, gotValues);
    EXPECT_EQ(gotKeys[0], k1);
    EXPECT_EQ(gotValues[0], first);
    CFRelease(dict);
    EXPECT_EQ(destroyed, (std::vector<std::string>{"second", "first"}));
    EXPECT_EQ(CFGetRetainCount(k1), 1);
    for (CFStringRef s : {k1, k2, probe})
        CFRelease(s);
}

TEST_F(StandIn, NumbersKeepTheirCanonicalTypeAndExactValue) {
    double tenth = 0.1;
    CFNumberRef d = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &tenth);
    EXPECT_EQ(CFNumberGetType(d), kCFNumberFloat64Type);
    EXPECT_TRUE(CFNumberIsFloatType(d));
    double back = 0;
    EXPECT_TRUE(CFNumberGetValue(d, kCFNumberFloat64Type, &back));
    EXPECT_EQ(back, tenth);
    float narrow = 0;
    EXPECT_FALSE(CFNumberGetValue(d, kCFNumberFloat32Type, &narrow));  // 0.1 loses bits as a float
    int one = 1;
    CFNumberRef i = CFNumberCreate(kCFAllocatorDefault, kCFNumberIntType, &one);
    EXPECT_EQ(CFNumberGetType(i), kCFNumberSInt32Type);
    EXPECT_FALSE(CFNumberIsFloatType(i));
    double oneReal = 1.0;
    CFNumberRef r = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &oneReal);
    EXPECT_TRUE(CFEqual(i, r));
    EXPECT_EQ(CFGetTypeID(d), CFNumberGetTypeID());
    for (CFNumberRef n : {d, i, r})
        CFRelease(n);
}

TEST_F(StandIn, SomeFloatNumbersAreOneSharedObjectWhoseCountNeverMoves) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double value : {0.0, 1.0, std::nan(""), inf, -inf}) {
        CFNumberRef a = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &value);
        CFNumberRef b = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &value);
        expectShared(a, b, std::to_string(value));
        EXPECT_EQ(CFNumberGetType(b), kCFNumberFloat64Type);
        double back = 0;
        EXPECT_TRUE(CFNumberGetValue(b, kCFNumberFloat64Type, &back));
        EXPECT_TRUE(back == value || (std::isnan(back) && std::isnan(value))) << value;
    }
    // 32-bit 0 and 1 too, each its own object that keeps its 32-bit type.
    for (float value : {0.0f, 1.0f}) {
        CFNumberRef a = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat32Type, &value);
        CFNumberRef b = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloatType, &value);
        expectShared(a, b, std::to_string(value) + "f");
        EXPECT_EQ(CFNumberGetType(b), kCFNumberFloat32Type);
        double wide = value;
        EXPECT_NE(a, CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &wide));
        float back = -1;
        EXPECT_TRUE(CFNumberGetValue(b, kCFNumberFloat32Type, &back));
        EXPECT_EQ(back, value);
    }
    // A 32-bit NaN or infinity is the 64-bit one. Read back as 32 bits, the
    // NaN is written but reported as not exact: the platform's check compares
    // the value with itself.
    const float inf32 = std::numeric_limits<float>::infinity();
    for (float value : {std::nanf(""), inf32, -inf32}) {
        double wide = value;
        CFNumberRef a = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &wide);
        CFNumberRef b = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat32Type, &value);
        expectShared(a, b, std::to_string(value) + "f");
        EXPECT_EQ(CFNumberGetType(b), kCFNumberFloat64Type);
        float back = 0;
        EXPECT_EQ(bool(CFNumberGetValue(b, kCFNumberFloat32Type, &back)), !std::isnan(value)) << value;
        EXPECT_TRUE(back == value || (std::isnan(back) && std::isnan(value))) << value;
    }
    // Any other value, negative zero of either width included, is a fresh object.
    double minusZero = -0.0, half = 0.5;
    float minusZero32 = -0.0f, two32 = 2;
    for (auto [type, value] : {std::pair<CFNumberType, const void*>{kCFNumberFloat64Type, &minusZero},
                               {kCFNumberFloat64Type, &half},
                               {kCFNumberFloat32Type, &minusZero32},
                               {kCFNumberFloat32Type, &two32}}) {
        CFNumberRef a = CFNumberCreate(kCFAllocatorDefault, type, value);
        CFNumberRef b = CFNumberCreate(kCFAllocatorDefault, type, value);
        EXPECT_NE(a, b);
        EXPECT_EQ(CFGetRetainCount(a), 1);
        CFRelease(a);
        CFRelease(b);
    }
    double back = 0;
    CFNumberRef m = CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &minusZero);
    CFNumberGetValue(m, kCFNumberFloat64Type, &back);
    EXPECT_TRUE(std::signbit(back));
    CFRelease(m);
}

TEST_F(StandIn, StringsAreUtf8WithUtf16Lengths) {
    CFStringRef s = text("a\xc3\xa9\xf0\x9f\x91\x8d");  // a, e acute, a thumbs-up outside the BMP
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 4);
    char buffer[8];
    EXPECT_TRUE(CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8));
    EXPECT_STREQ(buffer, "a\xc3\xa9\xf0\x9f\x91\x8d");
    char small[7];
    EXPECT_FALSE(CFStringGetCString(s, small, sizeof small, kCFStringEncodingUTF8));
    EXPECT_EQ(CFGetTypeID(s), CFStringGetTypeID());
    CFRelease(s);
    EXPECT_EQ(text("\xff"), nullptr);
    EXPECT_EQ(text("\xc0\x80"), nullptr);  // an overlong NUL
}

// Tests of the stand-in alone: each models a fact of one platform only, and
// another CoreFoundation may rightly fail it.
using StandInOnly = StandIn;

// A Mac's tagged strings: a short ASCII text lives in the pointer itself.
TEST_F(StandInOnly, ShortAsciiTextsAreOneSharedObjectWhoseCountNeverMoves) {
    for (const char* s : {"", "Sine", "Tones", "DelayMS", "Amplitude", "DurationMS", "x y\t~!@#$%^"}) {
        CFStringRef a = text(s);
        CFStringRef b = CFStringCreateWithCString(kCFAllocatorDefault, s, kCFStringEncodingASCII);
        expectShared(a, b, s);
        // Still a whole, live text.
        EXPECT_EQ(CFGetTypeID(b), CFStringGetTypeID());
        EXPECT_EQ(CFStringGetLength(b), CFIndex(strlen(s)));
        char buffer[16];
        EXPECT_TRUE(CFStringGetCString(b, buffer, sizeof buffer, kCFStringEncodingUTF8));
        EXPECT_STREQ(buffer, s);
        EXPECT_EQ(CFHash(a), CFHash(b));
    }
    // Twelve characters, or one outside ASCII, make a text of its own.
    for (const char* s : {longKey, "\xc3\xa9"}) {
        CFStringRef a = text(s), b = text(s);
        EXPECT_NE(a, b) << s;
        EXPECT_TRUE(CFEqual(a, b)) << s;
        EXPECT_EQ(CFHash(a), CFHash(b)) << s;
        EXPECT_EQ(CFGetRetainCount(a), 1) << s;
        CFRelease(a);
        CFRelease(b);
    }
}

using StandInOnlyDeathTest = StandIn;

// The stand-in's own diagnostics: the platform aborts on such misuse, or worse, without them.
TEST_F(StandInOnlyDeathTest, MisuseAbortsWithTheStandInsOwnMessage) {
    EXPECT_DEATH(CFRelease(nullptr), "CFRelease: called with NULL");
    EXPECT_DEATH(
        {
            CFArrayRef a = tracked("a");
            CFRelease(a);
            CFRelease(a);
        },
        "not alive");
    EXPECT_DEATH(
        {
            CFArrayRef a = tracked("a");
            CFArrayGetValueAtIndex(a, 1);
        },
        "out of bounds");
}

}  // namespace
