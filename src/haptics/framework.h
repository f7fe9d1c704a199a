// Loads the multitouch framework from its fixed path and resolves the six
// EntryPoints; a missing framework or function ends the process with "no " + name.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <cstdint>

extern void* framework;

// The EntryPoints, in resolution order. Never null once loadFramework returns.
// createList, createActuator and createActuation hand the caller one reference
// to what they return, as the Create in their framework names says.
extern CFArrayRef (*createList)();
extern int32_t (*getID)(const void* device, uint64_t* id);
extern CFTypeRef (*createActuator)(uint64_t id);
extern int32_t (*openActuator)(CFTypeRef actuator);
extern CFTypeRef (*createActuation)(CFDictionaryRef description, int32_t options);
extern int32_t (*actuate)(CFTypeRef actuation, CFTypeRef motor, uint32_t, float intensity, float);

void loadFramework();
