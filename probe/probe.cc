// The report's probe (scripts/mac-report.sh): opens the multitouch framework by
// the tool's fixed path and writes, as Markdown, what it has and what it answers.
//
// Test machinery, never part of the tool and never installed. It looks up the
// functions itself, so that a missing one is a line of the report rather than
// the end of the run, and it asks for an actuation from the tool's own
// description of a step. Nothing is played. Standard output is line-buffered
// so that whatever the framework does, every line written so far is out.
#include <CoreFoundation/CoreFoundation.h>
#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>

#include "haptics/description.h"
#include "haptics/framework.h"

namespace {

const char frameworkPath[] = "/System/Library/PrivateFrameworks/MultitouchSupport.framework/MultitouchSupport";

// The tool's own signatures, taken from its declarations (never called there).
struct Functions {
    decltype(::createList) deviceCreateList = nullptr;
    decltype(::getID) deviceGetID = nullptr;
    decltype(::createActuator) actuatorCreate = nullptr;
    decltype(::openActuator) actuatorOpen = nullptr;
    decltype(::createActuation) actuationCreate = nullptr;
    decltype(::actuate) actuationActuate = nullptr;
};

// Looks `name` up and writes its line: found (and in which image), or missing.
template <typename Function>
void lookUp(void* framework, const char* name, Function& function, int& found) {
    void* address = framework ? dlsym(framework, name) : nullptr;
    function = reinterpret_cast<Function>(address);
    Dl_info image{};
    if (!address)
        std::printf("- `%s`: **missing**\n", name);
    else if (dladdr(address, &image) && image.dli_fname)
        std::printf("- `%s`: found, in `%s`\n", name, image.dli_fname);
    else
        std::printf("- `%s`: found\n", name);
    found += address != nullptr;
}

Functions reportFramework() {
    std::printf("## 2. The framework\n\n");
    void* framework = dlopen(frameworkPath, RTLD_NOW);
    if (framework) {
        std::printf("- It loads from `%s`.\n", frameworkPath);
    } else {
        const char* why = dlerror();
        std::printf("- **It does not load** from `%s`: %s\n", frameworkPath, why ? why : "no reason given");
    }
    Functions f;
    int found = 0;
    lookUp(framework, "MTDeviceCreateList", f.deviceCreateList, found);
    lookUp(framework, "MTDeviceGetDeviceID", f.deviceGetID, found);
    lookUp(framework, "MTActuatorCreateFromDeviceID", f.actuatorCreate, found);
    lookUp(framework, "MTActuatorOpen", f.actuatorOpen, found);
    lookUp(framework, "MTActuationCreateFromDictionary", f.actuationCreate, found);
    lookUp(framework, "MTActuationActuate", f.actuationActuate, found);
    std::printf("- %d of 6 functions found.\n", found);
    return f;
}

// One line for the device at `index` (from 1, as a reader counts); true when
// its actuator opens. Actuators that open stay open until the process ends,
// as the tool's do.
bool reportDevice(const Functions& f, const void* device, CFIndex index) {
    std::printf("- Device %ld: ", static_cast<long>(index + 1));
    if (!device) {
        std::printf("**a null entry** in the list.\n");
        return false;
    }
    if (!f.deviceGetID) {
        std::printf("its ID cannot be read (`MTDeviceGetDeviceID` is missing).\n");
        return false;
    }
    uint64_t id = 0;
    int32_t status = f.deviceGetID(device, &id);
    if (status != 0) {
        std::printf("**no ID** (`MTDeviceGetDeviceID` returned %" PRId32 ").\n", status);
        return false;
    }
    std::printf("ID %" PRIu64 "; ", id);
    if (!f.actuatorCreate) {
        std::printf("no actuator can be asked for (`MTActuatorCreateFromDeviceID` is missing).\n");
        return false;
    }
    CFTypeRef actuator = f.actuatorCreate(id);
    if (!actuator) {
        std::printf("**no actuator** is created for it.\n");
        return false;
    }
    std::printf("an actuator is created; ");
    if (!f.actuatorOpen) {
        std::printf("it cannot be opened (`MTActuatorOpen` is missing).\n");
        CFRelease(actuator);
        return false;
    }
    status = f.actuatorOpen(actuator);
    if (status != 0) {
        std::printf("it **does not open** (`MTActuatorOpen` returned %" PRId32 ").\n", status);
        CFRelease(actuator);
        return false;
    }
    std::printf("it opens (`MTActuatorOpen` returned 0).\n");
    return true;
}

void reportDevices(const Functions& f) {
    std::printf("\n## 3. The devices\n\n");
    if (!f.deviceCreateList) {
        std::printf("- No device list can be asked for (`MTDeviceCreateList` is missing).\n");
    } else if (CFArrayRef devices = f.deviceCreateList(); !devices) {
        std::printf("- **No device list**: `MTDeviceCreateList` returned null.\n");
    } else {
        CFIndex count = CFArrayGetCount(devices);
        if (count == 0)
            std::printf("- **No devices**: the framework lists none.\n");
        else
            std::printf("- The framework lists %ld device%s.\n", static_cast<long>(count), count == 1 ? "" : "s");
        long opened = 0;
        for (CFIndex index = 0; index < count; ++index)
            opened += reportDevice(f, CFArrayGetValueAtIndex(devices, index), index);
        std::printf("- Actuators that open: %ld.\n", opened);
    }

    // The tool's first step of its cookbook's single tap, described by the
    // tool's own code, handed over as the tool hands it.
    const Step step{150, 25, 1, 0};
    if (!f.actuationCreate) {
        std::printf("- No actuation can be asked for (`MTActuationCreateFromDictionary` is missing).\n");
        return;
    }
    CFDictionaryRef description = createPlatformDictionary(describe(step));
    CFTypeRef actuation = f.actuationCreate(description, 0);
    CFRelease(description);
    if (!actuation) {
        std::printf(
            "- **The actuation is refused**: `MTActuationCreateFromDictionary` returned null for the tool's "
            "description of a step of 150 Hz and 25 ms.\n");
        return;
    }
    std::printf(
        "- The framework creates an actuation from the tool's description of a step of 150 Hz and 25 ms "
        "(not played).\n");
    CFRelease(actuation);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    reportDevices(reportFramework());
    return 0;
}
