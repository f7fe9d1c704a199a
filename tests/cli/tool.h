// Runs the real thrum binary, normally against the simulated trackpad, or any
// code in a child set up the same way, and gathers what it did: exit status,
// both outputs, the simulation's log, time.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct Options {
    // Extra environment, mostly the simulation's MTSIM_ variables.
    std::vector<std::pair<std::string, std::string>> env;
    // File name of the simulation library in the build, e.g. a variant that
    // lacks one function; empty for the full simulation.
    std::string library;
    // False runs the binary with no loader redirect at all.
    bool redirect = true;
    // True starts the process with no arguments at all, not even its path.
    bool noArgv = false;
    // True starts the process with standard error closed.
    bool closeStderr = false;
    // True makes standard error a pipe whose reader has already gone.
    bool brokenPipeStderr = false;
    // A descriptor of the caller's to hand the process as standard error; -1
    // for the file that `Outcome::err` reads.
    int stderrFd = -1;
    // Soft resource limits to start the process with: (RLIMIT_..., value),
    // each at most the hard limit.
    std::vector<std::pair<int, unsigned long long>> limits;
    // Appended to the sanitizer's options, for a binary built with one.
    std::string asanOptions;
    // Above 0: a process still running this long after its start is killed,
    // and its status is 128 + SIGKILL.
    double killAfterSeconds = 0;
};

struct Outcome {
    int status = -1;  // exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
    std::vector<std::string> log;  // the simulation's log, timestamps stripped
    std::vector<long long> times;  // the timestamp of each log line, nanoseconds
    double seconds = 0;            // wall time of the whole process
    double cpuSeconds = 0;         // its CPU time, user and system
};

// The loader variable that injects the redirect into a process at its start.
#ifdef __APPLE__
inline const std::string preloadVariable = "DYLD_INSERT_LIBRARIES";
#else
inline const std::string preloadVariable = "LD_PRELOAD";
#endif

Outcome runThrum(const std::vector<std::string>& args, const Options& options = {});

// Runs the program at `path` as runThrum runs the tool.
Outcome runProgram(const std::string& path, const std::vector<std::string>& args, const Options& options = {});

// Runs `body` in a forked child with the environment, outputs and log that
// runThrum gives the tool; the child exits with what `body` returns. The test
// process may have threads, so `body` should do little more than exec: on a
// Mac, CoreFoundation refuses much of itself in a forked child.
Outcome runChild(const Options& options, const std::function<int()>& body);

Options withEnv(std::vector<std::pair<std::string, std::string>> env);

// The log lines whose event (first word after the timestamp) is `event`.
std::vector<std::string> events(const Outcome& run, const std::string& event);
