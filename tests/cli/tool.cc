#include "tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string temporaryFile(const char* tag) {
    std::string path = std::string("/tmp/thrum-") + tag + "-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0)
        throw std::runtime_error("mkstemp");
    close(fd);
    return path;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

#ifdef __APPLE__
// dyld cuts its list only at colons, so the full path serves.
std::vector<std::string> redirectEnvironment() {
    return {preloadVariable + "=" + REDIRECT_LIBRARY};
}
#else
// The loader cuts LD_PRELOAD at every space and colon, so a full path in a
// folder named with a space would not load: the redirect goes in by its bare
// name, found through its folder put first on the library search path.
std::vector<std::string> redirectEnvironment() {
    std::string library = REDIRECT_LIBRARY;
    size_t slash = library.rfind('/');
    const char* inherited = getenv("LD_LIBRARY_PATH");
    std::string searchPath = "LD_LIBRARY_PATH=" + library.substr(0, slash);
    if (inherited && *inherited)
        searchPath += std::string(":") + inherited;
    return {searchPath, preloadVariable + "=" + library.substr(slash + 1)};
}
#endif

std::vector<std::string> environment(const Options& options, const std::string& logPath) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (entry.rfind("MTSIM_", 0) == 0 || entry.rfind(preloadVariable + "=", 0) == 0 ||
            entry.rfind("ASAN_OPTIONS=", 0) == 0)
            continue;
        if (options.redirect && entry.rfind("LD_LIBRARY_PATH=", 0) == 0)
            continue;
        env.push_back(entry);
    }
    // The redirect is preloaded ahead of the sanitizer runtime; that is fine.
    const char* asan = getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=verify_asan_link_order=0") + (asan ? std::string(":") + asan : "") +
                  (options.asanOptions.empty() ? "" : ":" + options.asanOptions));
    if (options.redirect) {
        for (auto& entry : redirectEnvironment())
            env.push_back(entry);
        if (!options.library.empty())
            env.push_back(std::string("MTSIM_LIBRARY=") + SIM_DIR + "/" + options.library);
    }
    env.push_back("MTSIM_LOG=" + logPath);
    for (auto& [name, value] : options.env)
        env.push_back(name + "=" + value);
    return env;
}

// Points the standard outputs of a new child at `outPath` and `errPath`, or
// standard error where `options` say.
void redirectOutputs(const Options& options, const std::string& outPath, const std::string& errPath) {
    int out = open(outPath.c_str(), O_WRONLY | O_TRUNC);
    int err = open(errPath.c_str(), O_WRONLY | O_TRUNC);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    if (options.closeStderr)
        close(2);
    int ends[2];
    if (options.brokenPipeStderr && pipe(ends) == 0) {
        close(ends[0]);
        dup2(ends[1], 2);
        close(ends[1]);
    }
    if (options.stderrFd >= 0)
        dup2(options.stderrFd, 2);
}

// Lowers the new child's soft resource limits where `options` say.
void applyLimits(const Options& options) {
    for (auto& [resource, value] : options.limits) {
        rlimit limit;
        getrlimit(resource, &limit);
        limit.rlim_cur = std::min<rlim_t>(value, limit.rlim_max);
        setrlimit(resource, &limit);
    }
}

// Waits for `pid` to end, killing it first once `options` say it has run too
// long; its status and the processor time it used go into `run`.
void reap(pid_t pid, const Options& options, Clock::time_point start, Outcome& run) {
    int status = 0;
    rusage usage{};
    pid_t done = 0;
    auto stop =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.killAfterSeconds));
    if (options.killAfterSeconds > 0) {
        while ((done = wait4(pid, &status, WNOHANG, &usage)) == 0 && Clock::now() < stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (done == 0)
            kill(pid, SIGKILL);
    }
    while (done <= 0) {
        done = wait4(pid, &status, 0, &usage);
        if (done < 0 && errno != EINTR)
            throw std::runtime_error("wait4");
    }
    auto seconds = [](timeval t) { return t.tv_sec + t.tv_usec / 1e6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Each line of the log: a timestamp in nanoseconds, a space, the event.
void readLog(const std::string& path, Outcome& run) {
    std::istringstream log(slurp(path));
    for (std::string line; std::getline(log, line);) {
        size_t space = line.find(' ');
        run.times.push_back(std::atoll(line.substr(0, space).c_str()));
        run.log.push_back(space == std::string::npos ? "" : line.substr(space + 1));
    }
}

// THRUM_TEST_LOGS=DIR keeps the simulation's log of every run in a test that
// fails, as DIR/<suite>.<test>-<run>.log, for a run nobody can repeat by hand.
// Each is copied there at once, so that a crash keeps it too, and removed
// when its test ends without a failure.
std::vector<std::string> keptLogs;  // the running test's

void keepLog(const std::string& logPath) {
    const char* dir = getenv("THRUM_TEST_LOGS");
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (!dir || !*dir || !test)
        return;
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    std::string kept = std::string(dir) + "/" + name + "-" + std::to_string(keptLogs.size() + 1) + ".log";
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (std::filesystem::copy_file(logPath, kept, std::filesystem::copy_options::overwrite_existing, error))
        keptLogs.push_back(kept);
}

struct LogKeeper : testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo& test) override {
        if (!test.result()->Failed())
            for (auto& path : keptLogs)
                unlink(path.c_str());
        keptLogs.clear();
    }
};

const bool logKeeperListens = [] {
    if (getenv("THRUM_TEST_LOGS"))
        testing::UnitTest::GetInstance()->listeners().Append(new LogKeeper);
    return true;
}();

}  // namespace

Outcome runChild(const Options& options, const std::function<int()>& body) {
    std::string outPath = temporaryFile("out"), errPath = temporaryFile("err"), logPath = temporaryFile("log");
    std::vector<std::string> env = environment(options, logPath);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    auto start = Clock::now();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
        redirectOutputs(options, outPath, errPath);
        applyLimits(options);
        environ = envp.data();
        _exit(body());
    }
    Outcome run;
    reap(pid, options, start, run);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    readLog(logPath, run);
    keepLog(logPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    unlink(logPath.c_str());
    return run;
}

Outcome runThrum(const std::vector<std::string>& args, const Options& options) {
    return runProgram(THRUM_BINARY, args, options);
}

Outcome runProgram(const std::string& path, const std::vector<std::string>& args, const Options& options) {
    std::vector<char*> argv;
    if (!options.noArgv) {
        argv.push_back(const_cast<char*>(path.c_str()));
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    return runChild(options, [&] {
        execve(path.c_str(), argv.data(), environ);
        return 127;
    });
}

Options withEnv(std::vector<std::pair<std::string, std::string>> env) {
    Options options;
    options.env = std::move(env);
    return options;
}

std::vector<std::string> events(const Outcome& run, const std::string& event) {
    std::vector<std::string> found;
    for (auto& line : run.log)
        if (line == event || line.rfind(event + " ", 0) == 0)
            found.push_back(line);
    return found;
}
