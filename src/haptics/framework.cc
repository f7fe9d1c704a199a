#include "haptics/framework.h"

#include <dlfcn.h>
#include <string>

#include "fail.h"

void* framework;
CFArrayRef (*createList)();
int32_t (*getID)(const void* device, uint64_t* id);
CFTypeRef (*createActuator)(uint64_t id);
int32_t (*openActuator)(CFTypeRef actuator);
CFTypeRef (*createActuation)(CFDictionaryRef description, int32_t options);
int32_t (*actuate)(CFTypeRef actuation, CFTypeRef motor, uint32_t, float intensity, float);

namespace {

const char frameworkPath[] = "/System/Library/PrivateFrameworks/MultitouchSupport.framework/MultitouchSupport";

// A framework that did not load fails here too, naming the first function.
template <typename Function>
Function symbol(const char* name) {
    void* address = framework ? dlsym(framework, name) : nullptr;
    if (!address)
        fail(std::string("no ") + name);
    return reinterpret_cast<Function>(address);
}

}  // namespace

void loadFramework() {
    framework = dlopen(frameworkPath, RTLD_NOW);
    createList = symbol<decltype(createList)>("MTDeviceCreateList");
    getID = symbol<decltype(getID)>("MTDeviceGetDeviceID");
    createActuator = symbol<decltype(createActuator)>("MTActuatorCreateFromDeviceID");
    openActuator = symbol<decltype(openActuator)>("MTActuatorOpen");
    createActuation = symbol<decltype(createActuation)>("MTActuationCreateFromDictionary");
    actuate = symbol<decltype(actuate)>("MTActuationActuate");
}
