// The simulated multitouch framework: the six framework functions over a device
// list set by the MTSIM_ variables, logging every event as sim/README.md shows.
#include <CoreFoundation/CoreFoundation.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cftree.h"

namespace {

enum class Behaviour { noID, noActuator, noOpen, motor };

// One element of the simulated device list; list elements point at these.
struct Device {
    CFIndex index;
    Behaviour behaviour;
    bool hasID;
    uint64_t id;
};

// An actuator or an actuation: the one element of the array the caller gets.
struct Object {
    const char* kind;
    int serial;
    bool opens;             // actuator: MTActuatorOpen succeeds
    int descriptionSerial;  // actuation: the description it was made from
};

const char actuatorKind[] = "actuator";
const char actuationKind[] = "actuation";

int logFd = -1;

// On a Mac, the clock of mach_absolute_time, which Python's time.monotonic and
// mach_wait_until count there too: CLOCK_MONOTONIC there also counts sleep.
#ifdef __APPLE__
const clockid_t logClock = CLOCK_UPTIME_RAW;
#else
const clockid_t logClock = CLOCK_MONOTONIC;
#endif

bool nullList;
std::vector<Device> deviceTable;  // never resized once configured
std::vector<const void*> listElements;
long listReferences;  // element references held by live device lists
const Device* lastLookedUp;

std::set<int> nullActuations;
int32_t actuateStatus;
int32_t noIDStatus = 1, noOpenStatus = -1;  // what the failing calls return
std::map<long, long> delaysMs;
// MTSIM_TIME_DESCRIBE: the redirect's record of the tool's first create call,
// and the instant the latest creation handed its result back, not yet logged.
long long (*takeFirstCreate)();
long long creationReturnedNs;

std::set<const Object*> liveObjects;
int actuators, actuations, creations, actuateCalls;

// The description of the latest creation, retained until its check.
CFDictionaryRef heldDescription;
int heldSerial;

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    char buffer[256];
    int length = vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return std::string(buffer, length < 0 ? 0 : std::min<size_t>(size_t(length), sizeof buffer - 1));
}

long long logNow() {
    timespec now;
    clock_gettime(logClock, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// One write per line with O_APPEND, so lines never interleave or wait in a buffer.
// The line carries `at`, nanoseconds on the log's clock, or else the present.
void logEvent(const std::string& event, long long at = 0) {
    if (logFd < 0)
        return;
    int savedErrno = errno;
    std::string line = std::to_string(at ? at : logNow()) + " " + event + "\n";
    size_t done = 0;
    while (done < line.size()) {
        ssize_t written = write(logFd, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += size_t(written);
    }
    errno = savedErrno;
}

// A configuration that cannot be understood stops the process loudly: a test
// that silently ran against some other device list would prove nothing.
[[noreturn]] void badSetting(const char* name, const std::string& value) {
    logEvent(format("error %s=", name) + value);
    std::string message = std::string("multitouch_sim: cannot use ") + name + "=\"" + value + "\"\n";
    if (write(STDERR_FILENO, message.data(), message.size()) < 0) {
    }
    abort();
}

bool parseUnsigned(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 20)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        uint64_t digit = uint64_t(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

bool parseStatus(std::string_view text, int32_t& value) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude;
    if (!parseUnsigned(text.substr(negative ? 1 : 0), magnitude) || magnitude > (negative ? 0x80000000u : 0x7fffffffu))
        return false;
    value = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
    return true;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

void configureDevices() {
    const char* setting = getenv("MTSIM_DEVICES");
    std::string_view text = setting ? setting : "motor=1";
    if (text == "null") {
        nullList = true;
        return;
    }
    if (text.empty())
        return;
    std::vector<std::string_view> elements = split(text, ',');
    deviceTable.reserve(elements.size());
    for (size_t index = 0; index < elements.size(); ++index) {
        std::string_view element = elements[index];
        if (element == "null") {
            listElements.push_back(nullptr);
            continue;
        }
        size_t equals = element.find('=');
        std::string_view name = element.substr(0, equals);
        Device device{CFIndex(index), Behaviour::motor, equals != std::string_view::npos, 0};
        if (name == "noid")
            device.behaviour = Behaviour::noID;
        else if (name == "noactuator")
            device.behaviour = Behaviour::noActuator;
        else if (name == "noopen")
            device.behaviour = Behaviour::noOpen;
        else if (name != "motor")
            badSetting("MTSIM_DEVICES", std::string(text));
        if (device.hasID && !parseUnsigned(element.substr(equals + 1), device.id))
            badSetting("MTSIM_DEVICES", std::string(text));
        deviceTable.push_back(device);
        listElements.push_back(&deviceTable.back());
    }
}

void configure() {
    configureDevices();
    if (const char* setting = getenv("MTSIM_NULL_ACTUATION")) {
        for (std::string_view part : split(setting, ',')) {
            uint64_t call;
            if (!parseUnsigned(part, call) || call == 0 || call > INT32_MAX)
                badSetting("MTSIM_NULL_ACTUATION", setting);
            nullActuations.insert(int(call));
        }
    }
    if (const char* setting = getenv("MTSIM_ACTUATE_STATUS"))
        if (!parseStatus(setting, actuateStatus))
            badSetting("MTSIM_ACTUATE_STATUS", setting);
    if (const char* setting = getenv("MTSIM_FAIL_STATUS")) {
        if (!parseStatus(setting, noIDStatus) || noIDStatus == 0)
            badSetting("MTSIM_FAIL_STATUS", setting);
        noOpenStatus = noIDStatus;
    }
    if (const char* setting = getenv("MTSIM_TIME_DESCRIBE")) {
        if (strcmp(setting, "1") != 0)
            badSetting("MTSIM_TIME_DESCRIBE", setting);
        // Without the redirect in front of the tool there is nothing to time.
        takeFirstCreate = reinterpret_cast<long long (*)()>(dlsym(RTLD_DEFAULT, "mtsimTakeFirstCreate"));
    }
    if (const char* setting = getenv("MTSIM_DELAY")) {
        for (std::string_view part : split(setting, ',')) {
            size_t colon = part.find(':');
            uint64_t call, ms;
            if (colon == std::string_view::npos || !parseUnsigned(part.substr(0, colon), call) || call == 0 ||
                call > INT32_MAX || !parseUnsigned(part.substr(colon + 1), ms) || ms > 3600000)
                badSetting("MTSIM_DELAY", setting);
            delaysMs[long(call)] = long(ms);
        }
    }
}

void openLog() {
    const char* path = getenv("MTSIM_LOG");
    if (!path)
        return;
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        badSetting("MTSIM_LOG", path);
    // Started with a standard descriptor closed, the log would take its place
    // and the tool's own diagnostics would land in it.
    if (fd <= STDERR_FILENO) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0)
            badSetting("MTSIM_LOG", path);
        close(fd);
        fd = moved;
    }
    logFd = fd;
}

bool start() {
    openLog();
    Dl_info self;
    std::string file = "?";
    if (dladdr(reinterpret_cast<void*>(&start), &self) && self.dli_fname) {
        const char* slash = strrchr(self.dli_fname, '/');
        file = slash ? slash + 1 : self.dli_fname;
    }
    logEvent("load " + file);
    configure();
    return true;
}

std::string name(const Object* object) {
    return format("%s@%d", object->kind, object->serial);
}

// The simulation's own object behind `ref`, if it is one of `kind`.
const Object* find(CFTypeRef ref, const char* kind) {
    if (!ref || CFGetTypeID(ref) != CFArrayGetTypeID() || CFArrayGetCount(static_cast<CFArrayRef>(ref)) != 1)
        return nullptr;
    auto* object = static_cast<const Object*>(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(ref), 0));
    return liveObjects.count(object) && object->kind == kind ? object : nullptr;
}

std::string nameOf(CFTypeRef ref, const char* kind) {
    if (!ref)
        return "null";
    const Object* object = find(ref, kind);
    return object ? name(object) : "?";
}

// Whether the caller still holds the description of the latest creation. Our
// own reference then goes, which destroys the tree if the caller's is gone.
// The line carries `at`, the instant of the call that checks, if given.
void checkDescription(long long at = 0) {
    if (!heldDescription)
        return;
    CFDictionaryRef description = heldDescription;
    heldDescription = nullptr;
    CFIndex callerRefs = CFGetRetainCount(description) - 1;
    if (callerRefs == 0)
        logEvent(format("dropped description@%d", heldSerial), at);
    else
        logEvent(format("kept description@%d refs=%ld", heldSerial, long(callerRefs)), at);
    CFRelease(description);
}

const void* keepValue(CFAllocatorRef, const void* value) {
    return value;
}

void destroyObject(CFAllocatorRef, const void* value) {
    auto* object = static_cast<const Object*>(value);
    if (object->kind == actuationKind && heldDescription && heldSerial == object->descriptionSerial)
        checkDescription();
    logEvent("destroy " + name(object));
    liveObjects.erase(object);
    delete object;
}

const CFArrayCallBacks objectCallBacks = {0, keepValue, destroyObject, nullptr, nullptr};

// Elements may be null; the list is gone when its last element reference is.
const void* retainElement(CFAllocatorRef, const void* value) {
    ++listReferences;
    return value;
}

void releaseElement(CFAllocatorRef, const void*) {
    if (--listReferences == 0)
        logEvent("destroy list");
}

const CFArrayCallBacks listCallBacks = {0, retainElement, releaseElement, nullptr, nullptr};

CFArrayRef wrap(Object* object) {
    liveObjects.insert(object);
    const void* element = object;
    return CFArrayCreate(kCFAllocatorDefault, &element, 1, &objectCallBacks);
}

void sleepMs(long ms) {
    timespec left{ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&left, &left) < 0 && errno == EINTR) {
    }
}

[[maybe_unused]] const bool loaded = start();

}  // namespace

// The six functions. Each variant library keeps all of them but leaves one or
// two out of the exported set, so that a lookup by name finds nothing.

CFArrayRef createDeviceList() {
    if (nullList) {
        logEvent("createList -> null");
        return nullptr;
    }
    CFArrayRef list =
        CFArrayCreate(kCFAllocatorDefault, listElements.data(), CFIndex(listElements.size()), &listCallBacks);
    logEvent("createList -> list");
    return list;
}

int32_t getDeviceID(const void* device, uint64_t* id) {
    auto* record = static_cast<const Device*>(device);
    if (deviceTable.empty() || record < deviceTable.data() || record >= deviceTable.data() + deviceTable.size()) {
        logEvent(std::string("getID device=") + (device ? "?" : "null") + " -> 1");
        return 1;
    }
    lastLookedUp = record;
    int32_t status = record->behaviour == Behaviour::noID ? noIDStatus : 0;
    if (status == 0 && record->hasID)
        *id = record->id;
    logEvent(format("getID device=%ld -> %d", long(record->index), status));
    return status;
}

CFTypeRef createActuatorFor(uint64_t id) {
    Behaviour behaviour = lastLookedUp ? lastLookedUp->behaviour : Behaviour::motor;
    if (behaviour == Behaviour::noActuator) {
        logEvent(format("createActuator id=%" PRIu64 " -> null", id));
        return nullptr;
    }
    auto* actuator = new Object{actuatorKind, ++actuators, behaviour != Behaviour::noOpen, 0};
    CFArrayRef ref = wrap(actuator);
    logEvent(format("createActuator id=%" PRIu64 " -> ", id) + name(actuator));
    return ref;
}

int32_t openActuatorRef(CFTypeRef actuator) {
    const Object* object = find(actuator, actuatorKind);
    int32_t status = object && object->opens ? 0 : noOpenStatus;
    logEvent("openActuator " + nameOf(actuator, actuatorKind) + format(" -> %d", status));
    return status;
}

CFTypeRef makeActuation(CFDictionaryRef description, int32_t options) {
    checkDescription();
    int call = ++creations;
    std::string event = format("createActuation options=%d ", options);
    if (!description) {
        logEvent(event + "refs=0 strayRefs=0 description=? -> null");
        return nullptr;
    }
    // Rendering the tree is most of the simulation's cost: with no log, or
    // while it times the tool's steps, it is left out.
    if (logFd >= 0 && !takeFirstCreate)
        event += format("refs=%ld strayRefs=%ld description=", long(CFGetRetainCount(description)),
                        long(strayRefs(description))) +
                 treeText(description) + " -> ";
    else
        event += "-> ";
    heldDescription = static_cast<CFDictionaryRef>(CFRetain(description));
    heldSerial = call;
    if (nullActuations.count(call)) {
        logEvent(event + "null");
        return nullptr;
    }
    auto* actuation = new Object{actuationKind, ++actuations, false, call};
    CFArrayRef ref = wrap(actuation);
    logEvent(event + name(actuation));
    return ref;
}

// Timed, the call's entry and its return bound the simulation's own work, which
// the tool's time a step must leave out; the return is logged at the next actuate.
CFTypeRef createActuationFrom(CFDictionaryRef description, int32_t options) {
    if (!takeFirstCreate)
        return makeActuation(description, options);
    long long entered = logNow();
    if (long long first = takeFirstCreate())
        logEvent("describe", first);
    logEvent("entered createActuation", entered);
    CFTypeRef made = makeActuation(description, options);
    creationReturnedNs = logNow();
    return made;
}

int32_t actuateOn(CFTypeRef actuation, CFTypeRef motor, uint32_t arg3, float intensity, float arg5) {
    long long at = logFd >= 0 ? logNow() : 0;  // its lines carry the instant of the call's entry
    long call = ++actuateCalls;
    if (creationReturnedNs)
        logEvent("returned createActuation", std::exchange(creationReturnedNs, 0));
    checkDescription(at);
    uint32_t intensityBits, arg5Bits;
    memcpy(&intensityBits, &intensity, sizeof intensityBits);
    memcpy(&arg5Bits, &arg5, sizeof arg5Bits);
    logEvent("actuate " + nameOf(actuation, actuationKind) + " motor=" + nameOf(motor, actuatorKind) +
                 format(" arg3=%" PRIu32 " intensity=%08" PRIx32 " arg5=%08" PRIx32 " -> %" PRId32, arg3, intensityBits,
                        arg5Bits, actuateStatus),
             at);
    auto delay = delaysMs.find(call);
    if (delay != delaysMs.end())
        sleepMs(delay->second);
    return actuateStatus;
}

#define FRAMEWORK_FUNCTION extern "C" __attribute__((visibility("default")))

// Not a framework function: the loader redirect calls it from the tool's
// _exit, so that a description still held then (one whose creation gave null,
// say) is checked before the process ends.
FRAMEWORK_FUNCTION void mtsimProcessEnds() {
    checkDescription();
}

#ifdef WITH_UNBOUND_CALL
// Defined nowhere: a loader that binds every reference at load refuses this
// variant, one that binds lazily fails only at the first call.
extern "C" void mtsimDefinedNowhere();
#endif

#ifndef WITHOUT_MTDeviceCreateList
FRAMEWORK_FUNCTION CFArrayRef MTDeviceCreateList() {
#ifdef WITH_UNBOUND_CALL
    mtsimDefinedNowhere();
#endif
    return createDeviceList();
}
#endif

#ifndef WITHOUT_MTDeviceGetDeviceID
FRAMEWORK_FUNCTION int32_t MTDeviceGetDeviceID(const void* device, uint64_t* id) {
    return getDeviceID(device, id);
}
#endif

#ifndef WITHOUT_MTActuatorCreateFromDeviceID
FRAMEWORK_FUNCTION CFTypeRef MTActuatorCreateFromDeviceID(uint64_t id) {
    return createActuatorFor(id);
}
#endif

#ifndef WITHOUT_MTActuatorOpen
FRAMEWORK_FUNCTION int32_t MTActuatorOpen(CFTypeRef actuator) {
    return openActuatorRef(actuator);
}
#endif

#ifndef WITHOUT_MTActuationCreateFromDictionary
FRAMEWORK_FUNCTION CFTypeRef MTActuationCreateFromDictionary(CFDictionaryRef description, int32_t options) {
    return createActuationFrom(description, options);
}
#endif

#ifndef WITHOUT_MTActuationActuate
FRAMEWORK_FUNCTION int32_t MTActuationActuate(CFTypeRef actuation, CFTypeRef motor, uint32_t arg3, float intensity,
                                              float arg5) {
    return actuateOn(actuation, motor, arg3, intensity, arg5);
}
#endif
