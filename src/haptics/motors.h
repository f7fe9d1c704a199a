// Motor discovery: opens the haptic actuator of every device in the list that
// yields one, silently skipping the rest. Nothing found here is ever released.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <vector>

// An opened actuator, owned by `motors` until the process ends.
using MotorHandle = CFTypeRef;

extern CFArrayRef devices;
extern std::vector<MotorHandle> motors;

std::vector<MotorHandle> openMotors();
