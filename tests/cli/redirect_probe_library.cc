// A library that opens files and ends the process in the loader redirect's
// way, for a test that such calls from outside the program pass through it.
#include <dlfcn.h>
#include <unistd.h>

// Built without sibling calls: a call here made as a jump would seem to come
// from the program that called in.
extern "C" __attribute__((visibility("default"))) void* probeOpen(const char* file, int mode) {
    return dlopen(file, mode);
}

extern "C" __attribute__((visibility("default"), noreturn)) void probeExit(int status) {
    _exit(status);
}
