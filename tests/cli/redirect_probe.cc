// Reaches the loader redirect from the program's own code and from a
// library's, in a program that links no CoreFoundation: the simulation, opened
// locally, brings its own in, as a system library does on a Mac.
//
//   redirect_probe open here|library   "simulation" if the framework's path
//                                      opened the simulation, else "other"
//   redirect_probe exit here|library|main
//                                      holds a description in the simulation,
//                                      then ends with status 5 through the
//                                      program's _exit, the library's, or exit
//   redirect_probe list                prints the device list's length
//   redirect_probe create              a create call with no CoreFoundation loaded
// Status 2 if something will not load or bind, 3 for no such command. It
// calls CoreFoundation only through the simulation's handle (the allocator is
// null, the default), so that it never links it.
#include <CoreFoundation/CoreFoundation.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

extern "C" void* probeOpen(const char* file, int mode);
extern "C" [[noreturn]] void probeExit(int status);

namespace {

const char frameworkPath[] = "/System/Library/PrivateFrameworks/MultitouchSupport.framework/MultitouchSupport";

template <typename Function>
Function find(void* library, const char* name) {
    auto function = reinterpret_cast<Function>(dlsym(library, name));
    if (!function)
        _exit(2);
    return function;
}

// The framework as the program itself opens it: the simulation, whose
// CoreFoundation the program then calls through it.
void* framework() {
    void* opened = dlopen(frameworkPath, RTLD_NOW);
    if (!opened)
        _exit(2);
    return opened;
}

int opens(bool here) {
    void* opened = here ? dlopen(frameworkPath, RTLD_NOW) : probeOpen(frameworkPath, RTLD_NOW);
    puts(opened && dlsym(opened, "mtsimProcessEnds") ? "simulation" : "other");
    return 0;
}

int ends(const char* how) {
    void* mt = framework();
    auto createDictionary = find<decltype(&CFDictionaryCreate)>(mt, "CFDictionaryCreate");
    auto createActuation = find<CFTypeRef (*)(CFDictionaryRef, int32_t)>(mt, "MTActuationCreateFromDictionary");
    // Still held at the end, so that a simulation told of it logs its check.
    CFDictionaryRef description = createDictionary(nullptr, nullptr, nullptr, 0, nullptr, nullptr);
    if (!createActuation(description, 0))
        _exit(2);
    fflush(stdout);
    if (strcmp(how, "here") == 0)
        _exit(5);
    if (strcmp(how, "library") == 0)
        probeExit(5);
    return strcmp(how, "main") == 0 ? 5 : 3;
}

int lists() {
    void* mt = framework();
    CFArrayRef devices = find<CFArrayRef (*)()>(mt, "MTDeviceCreateList")();
    printf("%ld\n", long(find<decltype(&CFArrayGetCount)>(mt, "CFArrayGetCount")(devices)));
    return 0;
}

int creates() {
    double value = 0.5;
    auto createNumber = reinterpret_cast<decltype(&CFNumberCreate)>(dlsym(RTLD_DEFAULT, "CFNumberCreate"));
    puts(!createNumber ? "none" : createNumber(nullptr, kCFNumberFloat64Type, &value) ? "number" : "null");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "open") == 0)
        return opens(strcmp(argv[2], "here") == 0);
    if (argc == 3 && strcmp(argv[1], "exit") == 0)
        return ends(argv[2]);
    if (argc == 2 && strcmp(argv[1], "list") == 0)
        return lists();
    if (argc == 2 && strcmp(argv[1], "create") == 0)
        return creates();
    return 3;
}
