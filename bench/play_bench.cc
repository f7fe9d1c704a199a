// The cost of one step: the description alone, and play against the
// simulated trackpad with one motor (loaded directly, without the redirect).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

#include "haptics/description.h"
#include "haptics/framework.h"
#include "haptics/motors.h"
#include "haptics/play.h"

namespace {

void describeOnly(benchmark::State& state) {
    Step step{150, 25, 1, 80};
    for (auto _ : state)
        benchmark::DoNotOptimize(describe(step));
}
BENCHMARK(describeOnly);

void describeAndConvert(benchmark::State& state) {
    Step step{150, 25, 1, 80};
    // The release needs the dictionary, so its making cannot be optimised away.
    for (auto _ : state)
        CFRelease(createPlatformDictionary(describe(step)));
}
BENCHMARK(describeAndConvert);

#ifdef SIM_LIBRARY
long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

template <typename Function>
void bind(Function& entry, void* library, const char* name) {
    entry = reinterpret_cast<Function>(dlsym(library, name));
    if (!entry) {
        std::fprintf(stderr, "%s: no %s\n", SIM_LIBRARY, name);
        std::exit(1);
    }
}

void playOnSimulatedTrackpad(benchmark::State& state) {
    void* library = dlopen(SIM_LIBRARY, RTLD_NOW);
    if (!library) {
        state.SkipWithError(dlerror());
        return;
    }
    bind(createList, library, "MTDeviceCreateList");
    bind(getID, library, "MTDeviceGetDeviceID");
    bind(createActuator, library, "MTActuatorCreateFromDeviceID");
    bind(openActuator, library, "MTActuatorOpen");
    bind(createActuation, library, "MTActuationCreateFromDictionary");
    bind(actuate, library, "MTActuationActuate");
    devices = createList();
    motors = openMotors();
    if (motors.size() != 1) {
        state.SkipWithError("the simulation opened no single motor");
        return;
    }
    Step step{150, 25, 1, 80};
    // Past the first thousand steps the peak must not move: play keeps nothing.
    for (int i = 0; i < 1000; ++i)
        play(step, 0.8f);
    long before = peakKiB();
    for (auto _ : state)
        play(step, 0.8f);
    state.counters["peakGrowthKiB"] = double(peakKiB() - before);
}
BENCHMARK(playOnSimulatedTrackpad);
#endif

}  // namespace
