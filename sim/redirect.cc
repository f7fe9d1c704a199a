// The loader redirect: preloaded, it turns a dlopen of the multitouch
// framework's fixed path into one of the simulation and passes the rest on.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char frameworkPath[] = "/System/Library/PrivateFrameworks/MultitouchSupport.framework/MultitouchSupport";

// The simulation that sits beside this library in the build.
std::string defaultSimulation() {
    Dl_info self;
    std::string path;
    if (dladdr(reinterpret_cast<void*>(&defaultSimulation), &self) && self.dli_fname) {
        const char* slash = strrchr(self.dli_fname, '/');
        if (slash)
            path.assign(self.dli_fname, size_t(slash - self.dli_fname) + 1);
    }
    return path + "libmultitouch_sim.so";
}

void* simulation;

}  // namespace

extern "C" __attribute__((visibility("default"))) void* dlopen(const char* file, int mode) noexcept {
    static auto next = reinterpret_cast<void* (*)(const char*, int)>(dlsym(RTLD_NEXT, "dlopen"));
    if (!file || strcmp(file, frameworkPath) != 0)
        return next(file, mode);
    const char* library = getenv("MTSIM_LIBRARY");
    simulation = next(library && *library ? library : defaultSimulation().c_str(), mode);
    return simulation;
}

// The tool ends a failure with _exit, which runs no exit handlers: the
// simulation is told here, so that it can check what it still holds.
extern "C" __attribute__((visibility("default"), noreturn)) void _exit(int status) {
    static auto next = reinterpret_cast<void (*)(int)>(dlsym(RTLD_NEXT, "_exit"));
    if (simulation)
        if (auto ends = reinterpret_cast<void (*)()>(dlsym(simulation, "mtsimProcessEnds")))
            ends();
    next(status);
    __builtin_unreachable();
}
