// The loader redirect: injected at start, it turns a dlopen of the multitouch
// framework's fixed path into one of the simulation and passes the rest on. It
// also stands in front of _exit and of the tool's CoreFoundation create calls.
#include <CoreFoundation/CoreFoundation.h>
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>
#ifdef __APPLE__
#include <crt_externs.h>
#else
#include <link.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "macho.h"

namespace {

const char frameworkPath[] = "/System/Library/PrivateFrameworks/MultitouchSupport.framework/MultitouchSupport";

#ifdef __APPLE__
const char simulationFile[] = "libmultitouch_sim.dylib";
#else
const char simulationFile[] = "libmultitouch_sim.so";
#endif

// The simulation that sits beside this library in the build.
std::string defaultSimulation() {
    Dl_info self;
    std::string path;
    if (dladdr(reinterpret_cast<void*>(&defaultSimulation), &self) && self.dli_fname) {
        const char* slash = strrchr(self.dli_fname, '/');
        if (slash)
            path.assign(self.dli_fname, size_t(slash - self.dli_fname) + 1);
    }
    return path + simulationFile;
}

void* simulation;

void* openRedirected(const char* file, int mode, void* (*open)(const char*, int)) {
    if (!file || strcmp(file, frameworkPath) != 0)
        return open(file, mode);
    const char* library = getenv("MTSIM_LIBRARY");
    simulation = open(library && *library ? library : defaultSimulation().c_str(), mode);
    return simulation;
}

// The tool ends a failure with _exit, which runs no exit handlers: the
// simulation is told first, so that it can check what it still holds.
void tellSimulationTheProcessEnds() {
    if (simulation)
        if (auto ends = reinterpret_cast<void (*)()>(dlsym(simulation, "mtsimProcessEnds")))
            ends();
}

// A coverage build of the tool exports gcov's dump, which its exit handler
// would have run; _exit runs none, so the counts are written here.
void writeCoverageCounts() {
    if (auto dump = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "__gcov_dump")))
        dump();
}

// The tool's CoreFoundation create calls pass through here: a test can have
// one of them give null, as a lack of memory would (MTSIM_CF_NULL=N, the N-th
// from 1), and the simulation learns when the tool began to describe each step
// (mtsimTakeFirstCreate). Calls from outside the program's own code, the
// simulation's among them, pass untouched.

#ifdef __APPLE__
// The program's code is its __TEXT segment, mapped from its header on.
AddressRange programCode() {
    return mappedText(_NSGetMachExecuteHeader());
}
#else
int programSegments(dl_phdr_info* info, size_t, void* found) {
    // The first object the loader reports is the program.
    auto* code = static_cast<AddressRange*>(found);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X))
            continue;
        uintptr_t first = info->dlpi_addr + segment.p_vaddr;
        if (!code->end || first < code->first)
            code->first = first;
        code->end = std::max<uintptr_t>(code->end, first + segment.p_memsz);
    }
    return 1;
}

AddressRange programCode() {
    AddressRange code;
    dl_iterate_phdr(programSegments, &code);
    return code;
}
#endif

bool fromProgram(const void* caller) {
    static const AddressRange code = programCode();
    auto at = reinterpret_cast<uintptr_t>(caller);
    return at >= code.first && at < code.end;
}

// MTSIM_CF_NULL, or 0 for none. A setting that cannot be read stops the
// process, as the simulation's own do.
long nullCreate() {
    const char* setting = getenv("MTSIM_CF_NULL");
    if (!setting)
        return 0;
    long call = 0;
    for (const char* c = setting; *c && call >= 0; ++c)
        call = *c < '0' || *c > '9' || call > 100000000 ? -1 : call * 10 + (*c - '0');
    if (call <= 0) {
        std::string message = std::string("mtredirect: cannot use MTSIM_CF_NULL=\"") + setting + "\"\n";
        if (write(STDERR_FILENO, message.data(), message.size()) < 0) {
        }
        abort();
    }
    return call;
}

long creates;
long long firstCreateNs;

// The clock of the simulation's log: on a Mac, that of mach_absolute_time.
#ifdef __APPLE__
const clockid_t logClock = CLOCK_UPTIME_RAW;
#else
const clockid_t logClock = CLOCK_MONOTONIC;
#endif

// Whether this create call must give null; the first of each step is timed,
// on the clock of the simulation's log. The clock is read before anything else
// here: the first call sets this up, which is no part of the tool's time.
bool refused(const void* caller) {
    timespec now{};
    if (!firstCreateNs)
        clock_gettime(logClock, &now);
    static const long nullCall = nullCreate();
    if (!fromProgram(caller))
        return false;
    if (!firstCreateNs)
        firstCreateNs = now.tv_sec * 1000000000LL + now.tv_nsec;
    return ++creates == nullCall;
}

}  // namespace

// For the simulation: the instant of the tool's first create call since the
// last time it asked, in nanoseconds, or 0 when there was none.
extern "C" __attribute__((visibility("default"))) long long mtsimTakeFirstCreate() {
    long long first = firstCreateNs;
    firstCreateNs = 0;
    return first;
}

// On a Mac each replacement has a name of its own and calls the platform's
// function, which the section at the end binds in its place; elsewhere it
// takes the function's own name and passes on to the next definition. Each
// asks refused first, before it finds that function on its first call.
#ifdef __APPLE__
#define REPLACEMENT(name) redirected##name
#define REAL(name) name
#else
#define REPLACEMENT(name) name
#define REAL(name) reinterpret_cast<decltype(&(name))>(dlsym(RTLD_NEXT, #name))
#endif
#define CREATE extern "C" __attribute__((visibility("default")))

CREATE CFStringRef REPLACEMENT(CFStringCreateWithCString)(CFAllocatorRef allocator, const char* text,
                                                          CFStringEncoding encoding) {
    bool refuse = refused(__builtin_return_address(0));
    static const auto real = REAL(CFStringCreateWithCString);
    return refuse ? nullptr : real(allocator, text, encoding);
}

CREATE CFNumberRef REPLACEMENT(CFNumberCreate)(CFAllocatorRef allocator, CFNumberType type, const void* value) {
    bool refuse = refused(__builtin_return_address(0));
    static const auto real = REAL(CFNumberCreate);
    return refuse ? nullptr : real(allocator, type, value);
}

CREATE CFArrayRef REPLACEMENT(CFArrayCreate)(CFAllocatorRef allocator, const void** values, CFIndex count,
                                             const CFArrayCallBacks* callBacks) {
    bool refuse = refused(__builtin_return_address(0));
    static const auto real = REAL(CFArrayCreate);
    return refuse ? nullptr : real(allocator, values, count, callBacks);
}

CREATE CFDictionaryRef REPLACEMENT(CFDictionaryCreate)(CFAllocatorRef allocator, const void** keys, const void** values,
                                                       CFIndex count, const CFDictionaryKeyCallBacks* keyCallBacks,
                                                       const CFDictionaryValueCallBacks* valueCallBacks) {
    bool refuse = refused(__builtin_return_address(0));
    static const auto real = REAL(CFDictionaryCreate);
    return refuse ? nullptr : real(allocator, keys, values, count, keyCallBacks, valueCallBacks);
}

#ifdef __APPLE__
// dyld binds every other image's dlopen to the replacement named in this
// section when the library is inserted (DYLD_INSERT_LIBRARIES); the calls made
// here still reach the loader's own.
extern "C" void* redirectedDlopen(const char* file, int mode) {
    return openRedirected(file, mode, dlopen);
}

extern "C" __attribute__((noreturn)) void redirectedExit(int status) {
    tellSimulationTheProcessEnds();
    writeCoverageCounts();
    _exit(status);
}

struct Interposition {
    const void* replacement;
    const void* replacee;
};

__attribute__((used, section("__DATA,__interpose"))) Interposition interpositions[] = {
    {reinterpret_cast<const void*>(&redirectedDlopen), reinterpret_cast<const void*>(&dlopen)},
    {reinterpret_cast<const void*>(&redirectedExit), reinterpret_cast<const void*>(&_exit)},
    {reinterpret_cast<const void*>(&redirectedCFStringCreateWithCString),
     reinterpret_cast<const void*>(&CFStringCreateWithCString)},
    {reinterpret_cast<const void*>(&redirectedCFNumberCreate), reinterpret_cast<const void*>(&CFNumberCreate)},
    {reinterpret_cast<const void*>(&redirectedCFArrayCreate), reinterpret_cast<const void*>(&CFArrayCreate)},
    {reinterpret_cast<const void*>(&redirectedCFDictionaryCreate), reinterpret_cast<const void*>(&CFDictionaryCreate)},
};
#else
// Preloaded (LD_PRELOAD), this definition comes before the C library's.
extern "C" __attribute__((visibility("default"))) void* dlopen(const char* file, int mode) noexcept {
    static auto next = reinterpret_cast<void* (*)(const char*, int)>(dlsym(RTLD_NEXT, "dlopen"));
    return openRedirected(file, mode, next);
}

extern "C" __attribute__((visibility("default"), noreturn)) void _exit(int status) {
    static auto next = reinterpret_cast<void (*)(int)>(dlsym(RTLD_NEXT, "_exit"));
    tellSimulationTheProcessEnds();
    writeCoverageCounts();
    next(status);
    __builtin_unreachable();
}
#endif
