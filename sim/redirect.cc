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
#include <vector>

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

// Whose call this is: the redirect acts on the program's own calls alone. On a
// Mac the loader hands it the calls of every image, system libraries among
// them (the C library's exit ends in _exit there); those pass untouched.

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

void* simulation;

// The program's dlopen of the framework's path opens the simulation instead.
bool redirected(const void* caller, const char* file) {
    return file && strcmp(file, frameworkPath) == 0 && fromProgram(caller);
}

void* openSimulation(int mode, void* (*open)(const char*, int)) {
    const char* library = getenv("MTSIM_LIBRARY");
    simulation = open(library && *library ? library : defaultSimulation().c_str(), mode);
    return simulation;
}

// The tool ends a failure with _exit, which runs no exit handlers: the
// simulation is told first, so that it can check what it still holds, and the
// counts of a coverage build, which its exit handler would have written, are
// written here (such a tool exports gcov's dump). Only the program's own call
// does this: any other comes at the end of a normal exit, or from a library.
void endingProcess(const void* caller) {
    if (!fromProgram(caller))
        return;
    if (simulation)
        if (auto ends = reinterpret_cast<void (*)()>(dlsym(simulation, "mtsimProcessEnds")))
            ends();
    if (auto dump = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, "__gcov_dump")))
        dump();
}

// The tool's CoreFoundation create calls pass through here: a test can have
// one of them give null, as a lack of memory would (MTSIM_CF_NULL=N, the N-th
// from 1), and the simulation learns when the tool began to describe each step
// (mtsimTakeFirstCreate). Calls from outside the program's own code, the
// simulation's among them, pass untouched.

// Stops the process with one line that says why.
[[noreturn]] void stop(const std::string& why) {
    std::string line = "mtredirect: " + why + "\n";
    if (write(STDERR_FILENO, line.data(), line.size()) < 0) {
    }
    abort();
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
    if (call <= 0)
        stop(std::string("cannot use MTSIM_CF_NULL=\"") + setting + "\"");
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

#ifndef __APPLE__
// The loaded libraries' names. The program's is empty, and what it has the
// global scope has, which RTLD_NEXT searched.
int collectName(dl_phdr_info* info, size_t, void* names) {
    if (info->dlpi_name && *info->dlpi_name)
        static_cast<std::vector<std::string>*>(names)->emplace_back(info->dlpi_name);
    return 0;
}

// The platform's function of that name, `own` being the replacement: the next
// definition in the global scope, or else one in a library that a program
// linking no CoreFoundation opened with its own (RTLD_LOCAL), as the
// simulation is. Where there is none the process stops with a line that says
// so: a replacement may not call null.
void* platformFunction(const char* name, const void* own) {
    if (void* next = dlsym(RTLD_NEXT, name))
        return next;
    std::vector<std::string> names;
    dl_iterate_phdr(collectName, &names);
    void* found = nullptr;
    for (size_t i = 0; i < names.size() && !found; ++i) {
        // Opened by name again, never loaded anew: its own scope to search,
        // the library and what it needs, the redirect's own definition aside.
        void* object = dlopen(names[i].c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (!object)
            continue;
        void* function = dlsym(object, name);
        if (function != own)
            found = function;
        dlclose(object);
    }
    if (!found)
        stop(std::string("no ") + name + " in any loaded library");
    return found;
}
#endif

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
// takes the function's own name and passes on to the platform's, found by
// platformFunction. Each
// asks refused first, before it finds that function on its first call.
#ifdef __APPLE__
#define REPLACEMENT(name) redirected##name
#define REAL(name) name
#else
#define REPLACEMENT(name) name
#define REAL(name) reinterpret_cast<decltype(&(name))>(platformFunction(#name, reinterpret_cast<const void*>(&(name))))
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
    if (redirected(__builtin_return_address(0), file))
        return openSimulation(mode, dlopen);
    // As a jump: dyld takes the caller's image, for @rpath and @loader_path,
    // from the return address, which stays the caller's. An older clang
    // without the attribute would warn (an error under -Werror); there an
    // optimised build still makes the jump, as a sibling call.
#if __has_cpp_attribute(clang::musttail)
    [[clang::musttail]] return dlopen(file, mode);
#else
    return dlopen(file, mode);
#endif
}

extern "C" __attribute__((noreturn)) void redirectedExit(int status) {
    endingProcess(__builtin_return_address(0));
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
    if (redirected(__builtin_return_address(0), file))
        return openSimulation(mode, next);
    return next(file, mode);
}

extern "C" __attribute__((visibility("default"), noreturn)) void _exit(int status) {
    static auto next = reinterpret_cast<void (*)(int)>(dlsym(RTLD_NEXT, "_exit"));
    endingProcess(__builtin_return_address(0));
    next(status);
    __builtin_unreachable();
}
#endif
