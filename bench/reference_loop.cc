// The least a schedule can do: sleep until absolute deadlines on the monotonic
// clock and note each wake-up. The schedule benchmark compares thrum with it.
// Usage: reference_loop STEPS WAIT_MS; prints one nanosecond timestamp a step.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#ifdef __APPLE__
#include <mach/mach_time.h>
#endif

namespace {

#ifdef __APPLE__
// A Mac has no absolute sleep on a clock id; it sleeps until a deadline in
// mach_absolute_time's ticks. CLOCK_UPTIME_RAW is that clock in nanoseconds,
// the one the simulation's log and Python's time.monotonic read there.
mach_timebase_info_data_t timebase;

long long nowNs() {
    return static_cast<long long>(clock_gettime_nsec_np(CLOCK_UPTIME_RAW));
}

void sleepUntilNs(long long deadline) {
    if (timebase.numer == 0)
        mach_timebase_info(&timebase);
    // Rounded up, so the wake-up never comes before the deadline.
    uint64_t ticks = (static_cast<uint64_t>(deadline) * timebase.denom + timebase.numer - 1) / timebase.numer;
    while (mach_wait_until(ticks) != KERN_SUCCESS) {
    }
}
#else
long long nowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

void sleepUntilNs(long long deadline) {
    timespec at = {static_cast<time_t>(deadline / 1'000'000'000), static_cast<long>(deadline % 1'000'000'000)};
#ifdef __linux__
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
#else
    for (long long now = nowNs(); now < deadline; now = nowNs()) {
        long long left = deadline - now;
        at = {static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        nanosleep(&at, nullptr);
    }
#endif
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: reference_loop STEPS WAIT_MS\n");
        return 2;
    }
    long steps = atol(argv[1]);
    long long waitNs = static_cast<long long>(atof(argv[2]) * 1e6);
    std::vector<long long> starts;
    starts.reserve(steps);
    long long start = nowNs();
    for (long k = 0; k < steps; ++k) {
        starts.push_back(nowNs());
        sleepUntilNs(start + (k + 1) * waitNs);
    }
    for (long long at : starts)
        printf("%lld\n", at);
    return 0;
}
