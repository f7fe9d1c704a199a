/*
 * For the platform report of a CI run: does the multitouch framework load
 * from its fixed path, as the tool opens it, and which of the six functions
 * the tool looks up does it have, and from which image. Never part of the tool.
 * Usage: framework-report     exit status 0 when all six are there, else 1
 */
#define _GNU_SOURCE /* dladdr, on Linux */
#include <dlfcn.h>
#include <stdio.h>

static const char frameworkPath[] = "/System/Library/PrivateFrameworks/MultitouchSupport.framework/MultitouchSupport";
static const char* const functions[] = {"MTDeviceCreateList",
                                        "MTDeviceGetDeviceID",
                                        "MTActuatorCreateFromDeviceID",
                                        "MTActuatorOpen",
                                        "MTActuationCreateFromDictionary",
                                        "MTActuationActuate"};

int main(void) {
    void* framework = dlopen(frameworkPath, RTLD_NOW);
    if (!framework) {
        const char* why = dlerror();
        printf("framework: does not load from %s: %s\n", frameworkPath, why ? why : "no reason given");
        return 1;
    }
    printf("framework: loads from %s\n", frameworkPath);
    int found = 0;
    for (size_t i = 0; i < sizeof functions / sizeof *functions; ++i) {
        void* function = dlsym(framework, functions[i]);
        Dl_info image;
        if (!function)
            printf("  %-32s MISSING\n", functions[i]);
        else if (dladdr(function, &image) && image.dli_fname)
            printf("  %-32s found, in %s\n", functions[i], image.dli_fname);
        else
            printf("  %-32s found\n", functions[i]);
        found += function != NULL;
    }
    printf("framework: %d of 6 functions found\n", found);
    return found == 6 ? 0 : 1;
}
