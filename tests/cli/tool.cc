#include "tool.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

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

}  // namespace

Outcome runThrum(const std::vector<std::string>& args, const Options& options) {
    std::string outPath = temporaryFile("out"), errPath = temporaryFile("err"), logPath = temporaryFile("log");

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (entry.rfind("MTSIM_", 0) == 0 || entry.rfind("LD_PRELOAD=", 0) == 0 || entry.rfind("ASAN_OPTIONS=", 0) == 0)
            continue;
        env.push_back(entry);
    }
    // The redirect is preloaded ahead of the sanitizer runtime; that is fine.
    const char* asan = getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=verify_asan_link_order=0") + (asan ? std::string(":") + asan : ""));
    if (options.redirect) {
        env.push_back(std::string("LD_PRELOAD=") + REDIRECT_LIBRARY);
        if (!options.library.empty())
            env.push_back(std::string("MTSIM_LIBRARY=") + SIM_DIR + "/" + options.library);
    }
    env.push_back("MTSIM_LOG=" + logPath);
    for (auto& [name, value] : options.env)
        env.push_back(name + "=" + value);

    std::vector<char*> argv, envp;
    if (!options.noArgv) {
        argv.push_back(const_cast<char*>(THRUM_BINARY));
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork");
    if (pid == 0) {
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
        execve(THRUM_BINARY, argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR)
            throw std::runtime_error("wait4");
    Outcome run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto cpu = [](timeval t) { return t.tv_sec + t.tv_usec / 1e6; };
    run.cpuSeconds = cpu(usage.ru_utime) + cpu(usage.ru_stime);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    std::istringstream log(slurp(logPath));
    for (std::string line; std::getline(log, line);) {
        size_t space = line.find(' ');
        run.times.push_back(std::atoll(line.substr(0, space).c_str()));
        run.log.push_back(space == std::string::npos ? "" : line.substr(space + 1));
    }
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    unlink(logPath.c_str());
    return run;
}

std::vector<std::string> events(const Outcome& run, const std::string& event) {
    std::vector<std::string> found;
    for (auto& line : run.log)
        if (line == event || line.rfind(event + " ", 0) == 0)
            found.push_back(line);
    return found;
}
