// The stray references the simulation reports, through whichever CoreFoundation
// is linked (the platform's own on a Mac): they must show either way.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include "cftree.h"
#include "haptics/description.h"

namespace {

TEST(StrayRefs, ShowAContainerHeldOutsideTheTreeOrLetGoUnderIt) {
    // The tool's own description: short keys and texts and the numbers 0 and
    // 1 are shared there, and counted nowhere.
    CFDictionaryRef description = createPlatformDictionary(describe({150, 25, 1, 80}));
    CFStringRef key = CFStringCreateWithCString(kCFAllocatorDefault, "Tones", kCFStringEncodingUTF8);
    CFTypeRef tones = CFDictionaryGetValue(description, key);
    CFRelease(key);
    ASSERT_NE(tones, nullptr);
    EXPECT_EQ(strayRefs(description), 0);

    CFRetain(tones);
    EXPECT_EQ(strayRefs(description), 1) << "a reference held outside the tree";

    // Held by two containers of the tree, then let go once too often.
    const void* both[] = {description, tones};
    CFArrayRef outer = CFArrayCreate(kCFAllocatorDefault, both, 2, &kCFTypeArrayCallBacks);
    CFRelease(description);
    CFRelease(tones);
    EXPECT_EQ(strayRefs(outer), 0);
    CFRelease(tones);
    EXPECT_EQ(strayRefs(outer), 1) << "a reference missing from the tree";
    CFRetain(tones);
    CFRelease(outer);
}

}  // namespace
