// Upper time bounds of the process tests, per platform, and a retry confined
// to them: lateness is the one thing a busy or virtual machine adds at random.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tool.h"

// How late a step may start after its deadline.
inline constexpr double late = 0.15;

// Start-up and exit of a whole process, under the sanitizers on a busy
// machine. A virtual Mac starts processes several times slower than Linux.
#ifdef __APPLE__
inline constexpr double process = 0.9;
#else
inline constexpr double process = 0.6;
#endif

// The upper time bounds a run missed, each with what was measured.
using Missed = std::vector<std::string>;

// Notes in `missed` that `seconds` of `what` was not under `bound`.
inline void within(Missed& missed, const std::string& what, double seconds, double bound) {
    if (seconds < bound)
        return;
    char measured[80];
    snprintf(measured, sizeof measured, ": %.3f s, bound %.3f s", seconds, bound);
    missed.push_back(what + measured);
}

// Runs the tool with `args` and `options` and has `check` assert everything
// about the run but its upper time bounds, which it returns when missed. A
// virtual machine may lose its time slice for a second at a time, again and
// again, so a run that missed only those is printed and run again, up to
// `tries` runs in all; the test fails when every one was late, as a fault
// makes them. An early step or any other failure is a fault at once and is
// never retried.
inline void expectInTime(const std::vector<std::string>& args, const Options& options,
                         const std::function<Missed(const Outcome&)>& check, int tries = 5) {
    for (int run = 1;; ++run) {
        Missed missed = check(runThrum(args, options));
        if (missed.empty())
            return;
        bool again = run < tries && !testing::Test::HasFailure();
        for (const std::string& bound : missed) {
            if (again)
                printf("[  STALL   ] run %d of %d late, run again: %s\n", run, tries, bound.c_str());
            else
                ADD_FAILURE() << bound
                              << (run == tries ? " (late in every one of " + std::to_string(tries) + " runs)" : "");
        }
        if (!again)
            return;
    }
}
