// Runs a command and prints its peak resident set size in bytes, then exits
// with its status. The command is this process's own child: a program started
// straight from a large one (a Python bench) is charged, on Linux, with its
// parent's memory at the exec, so the figure would be the parent's.
// Usage: peak_rss PROGRAM [ARG...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: peak_rss PROGRAM [ARG...]\n");
        return 2;
    }
    pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        perror(argv[1]);
        _exit(127);
    }
    int status;
    rusage usage;
    if (child < 0 || wait4(child, &status, 0, &usage) != child) {
        perror("peak_rss");
        return 2;
    }
#ifdef __APPLE__
    long long bytes = usage.ru_maxrss;  // bytes there, KiB on Linux
#else
    long long bytes = usage.ru_maxrss * 1024LL;
#endif
    printf("%lld\n", bytes);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
