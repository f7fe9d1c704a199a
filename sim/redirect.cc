// The loader redirect: injected at start, it turns a dlopen of the multitouch
// framework's fixed path into one of the simulation and passes the rest on.
#include <dlfcn.h>
#ifdef __APPLE__
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <string>

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

}  // namespace

#ifdef __APPLE__
// dyld binds every other image's dlopen to the replacement named in this
// section when the library is inserted (DYLD_INSERT_LIBRARIES); the calls made
// here still reach the loader's own.
extern "C" void* redirectedDlopen(const char* file, int mode) {
    return openRedirected(file, mode, dlopen);
}

extern "C" __attribute__((noreturn)) void redirectedExit(int status) {
    tellSimulationTheProcessEnds();
    _exit(status);
}

struct Interposition {
    const void* replacement;
    const void* replacee;
};

__attribute__((used, section("__DATA,__interpose"))) Interposition interpositions[] = {
    {reinterpret_cast<const void*>(&redirectedDlopen), reinterpret_cast<const void*>(&dlopen)},
    {reinterpret_cast<const void*>(&redirectedExit), reinterpret_cast<const void*>(&_exit)},
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
    next(status);
    __builtin_unreachable();
}
#endif
