// Makes one named series of framework calls on the simulated trackpad, loaded
// by its path, so that the simulation's tests read what its log says of them.
// A program of its own: CoreFoundation on a Mac refuses much of itself in a
// forked child that did not exec.
//
//   sim_scenario NAME      status 0; 2 if the simulation does not bind,
//                          3 if a call gives what it must not, 4 for no such NAME
#include <CoreFoundation/CoreFoundation.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Framework {
    CFArrayRef (*createList)();
    int32_t (*getID)(const void*, uint64_t*);
    CFTypeRef (*createActuator)(uint64_t);
    int32_t (*openActuator)(CFTypeRef);
    CFTypeRef (*createActuation)(CFDictionaryRef, int32_t);
    int32_t (*actuate)(CFTypeRef, CFTypeRef, uint32_t, float, float);
};

template <typename Function>
void resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (!function)
        _exit(2);
}

void require(bool condition) {
    if (!condition)
        _exit(3);
}

CFTypeRef text(const char* value) {
    return CFStringCreateWithCString(kCFAllocatorDefault, value, kCFStringEncodingUTF8);
}

template <typename Value>
CFTypeRef number(CFNumberType type, Value value) {
    return CFNumberCreate(kCFAllocatorDefault, type, &value);
}

// A container that takes over the references of `values` (and `keys`).
CFTypeRef array(std::vector<CFTypeRef> values) {
    CFArrayRef made = CFArrayCreate(kCFAllocatorDefault, values.data(), CFIndex(values.size()), &kCFTypeArrayCallBacks);
    for (CFTypeRef value : values)
        CFRelease(value);
    return made;
}

CFDictionaryRef dictionary(std::vector<const char*> keys, std::vector<CFTypeRef> values) {
    std::vector<CFTypeRef> keyRefs;
    for (const char* key : keys)
        keyRefs.push_back(text(key));
    CFDictionaryRef made =
        CFDictionaryCreate(kCFAllocatorDefault, keyRefs.data(), values.data(), CFIndex(values.size()),
                           &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    for (size_t i = 0; i < keys.size(); ++i) {
        CFRelease(keyRefs[i]);
        CFRelease(values[i]);
    }
    return made;
}

CFDictionaryRef small() {
    return dictionary({"Type"}, {text("Sine")});
}

// An opened motor from the default device list.
CFTypeRef motor(const Framework& mt) {
    CFArrayRef list = mt.createList();
    uint64_t id = 0;
    require(mt.getID(CFArrayGetValueAtIndex(list, 0), &id) == 0 && id == 1);
    CFTypeRef actuator = mt.createActuator(id);
    require(mt.openActuator(actuator) == 0);
    return actuator;
}

// A description of every kind of node, in no order.
void wholeTree(const Framework& mt) {
    CFDictionaryRef description =
        dictionary({"Zeta", "Alpha", "List", "Empty"},
                   {number(kCFNumberSInt32Type, -12), number(kCFNumberFloat32Type, 0.1f),
                    array({text("x y"), number(kCFNumberFloat64Type, -0.0), number(kCFNumberFloat64Type, 25.0)}),
                    dictionary({}, {})});
    require(mt.createActuation(description, -3) != nullptr);
    CFRelease(description);
}

// The description released before the first actuate, which comes twice.
void droppedBeforeActuate(const Framework& mt) {
    CFTypeRef actuator = motor(mt);
    CFDictionaryRef description = small();
    CFTypeRef actuation = mt.createActuation(description, 0);
    CFRelease(description);
    mt.actuate(actuation, actuator, 0, 1, 0);
    mt.actuate(actuation, actuator, 0, 1, 0);
    CFRelease(actuation);
}

// The first description still held at the next creation, with an extra
// reference on a node inside it.
void keptAtNextCreation(const Framework& mt) {
    // The extra reference is on a container: a short text's count may never move.
    CFTypeRef tones = array({small()});
    CFRetain(tones);
    CFDictionaryRef first = dictionary({"Tones"}, {tones});
    CFRetain(first);
    mt.createActuation(first, 0);
    CFDictionaryRef second = small();
    mt.createActuation(second, 0);
    CFRelease(second);
}

// An actuation released without ever being fired.
void neverActuated(const Framework& mt) {
    CFDictionaryRef description = small();
    CFTypeRef actuation = mt.createActuation(description, 0);
    CFRelease(description);
    CFRelease(actuation);
}

// Under MTSIM_NULL_ACTUATION=2, MTSIM_ACTUATE_STATUS=-7, MTSIM_DELAY=2:60:
// three creations, and actuates with odd arguments.
void settings(const Framework& mt) {
    CFTypeRef actuator = motor(mt);
    CFDictionaryRef description = small();
    CFTypeRef first = mt.createActuation(description, 0);
    require(mt.createActuation(description, 0) == nullptr);
    CFTypeRef third = mt.createActuation(description, 0);
    CFRelease(description);
    require(mt.actuate(first, actuator, 7, -0.0f, 1.0f) == -7);
    require(mt.actuate(third, nullptr, 0, 0.5f, 0) == -7);
    mt.actuate(actuator, third, 4294967295u, 1, 0);
}

// Under MTSIM_DEVICES=null,motor,null: the list, a lookup of no device, its end.
void listEnd(const Framework& mt) {
    CFArrayRef list = mt.createList();
    require(CFArrayGetCount(list) == 3 && !CFArrayGetValueAtIndex(list, 0) && !CFArrayGetValueAtIndex(list, 2));
    uint64_t id = 5;
    require(mt.getID(nullptr, &id) == 1 && id == 5);
    CFRelease(list);
}

const struct {
    const char* name;
    void (*calls)(const Framework&);
} scenarios[] = {
    {"wholeTree", wholeTree},
    {"droppedBeforeActuate", droppedBeforeActuate},
    {"keptAtNextCreation", keptAtNextCreation},
    {"neverActuated", neverActuated},
    {"settings", settings},
    {"listEnd", listEnd},
};

}  // namespace

int main(int argc, char** argv) {
    for (auto& scenario : scenarios) {
        if (argc != 2 || strcmp(argv[1], scenario.name) != 0)
            continue;
        void* library = dlopen(SIM_DIR "/libmultitouch_sim" LIBRARY_SUFFIX, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            _exit(2);
        Framework framework;
        resolve(library, "MTDeviceCreateList", framework.createList);
        resolve(library, "MTDeviceGetDeviceID", framework.getID);
        resolve(library, "MTActuatorCreateFromDeviceID", framework.createActuator);
        resolve(library, "MTActuatorOpen", framework.openActuator);
        resolve(library, "MTActuationCreateFromDictionary", framework.createActuation);
        resolve(library, "MTActuationActuate", framework.actuate);
        scenario.calls(framework);
        // No exit handlers: the log ends with the last call.
        _exit(0);
    }
    _exit(4);
}
