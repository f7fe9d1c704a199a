#include "haptics/play.h"

#include "fail.h"
#include "haptics/description.h"
#include "haptics/framework.h"
#include "haptics/motors.h"

void play(const Step& step, float strength) {
    CFDictionaryRef description = createPlatformDictionary(describe(step));
    CFTypeRef actuation = createActuation(description, 0);
    // Before the check, as fail never returns: released on both outcomes.
    CFRelease(description);
    if (!actuation)
        fail("no actuation");

    float intensity = step.level * strength;
    for (MotorHandle motor : motors)
        actuate(actuation, motor, 0, intensity, 0.0f);
    CFRelease(actuation);
}
