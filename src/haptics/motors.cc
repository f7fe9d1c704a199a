#include "haptics/motors.h"

#include "haptics/framework.h"

CFArrayRef devices;
std::vector<MotorHandle> motors;

std::vector<MotorHandle> openMotors() {
    std::vector<MotorHandle> opened;
    if (!devices)
        return opened;
    CFIndex count = CFArrayGetCount(devices);
    for (CFIndex index = 0; index < count; ++index) {
        const void* device = CFArrayGetValueAtIndex(devices, index);
        if (!device)
            continue;
        uint64_t id = 0;
        if (getID(device, &id) != 0)
            continue;
        CFTypeRef actuator = createActuator(id);
        if (!actuator)
            continue;
        if (openActuator(actuator) != 0) {
            CFRelease(actuator);
            continue;
        }
        opened.push_back(actuator);
    }
    return opened;
}
