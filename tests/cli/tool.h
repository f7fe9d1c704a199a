// Runs the real thrum binary, normally against the simulated trackpad, and
// gathers what it did: exit status, both outputs, the simulation's log, time.
#pragma once

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

Outcome runThrum(const std::vector<std::string>& args, const Options& options = {});

// The log lines whose event (first word after the timestamp) is `event`.
std::vector<std::string> events(const Outcome& run, const std::string& event);
