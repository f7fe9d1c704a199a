/*
 * Starts a program in the background band, where the system coalesces timers
 * most, so that the schedule benchmark can measure what that does to the tool.
 * The system's own launcher for this lives under /usr/bin, and the loader drops
 * the redirect's variable when it starts such a program; this one passes it on.
 * Usage: background PROGRAM [ARGUMENT ...]
 */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs("usage: background PROGRAM [ARGUMENT ...]\n", stderr);
        return 2;
    }
    if (setpriority(PRIO_DARWIN_PROCESS, 0, PRIO_DARWIN_BG) != 0) {
        fprintf(stderr, "background: setpriority: %s\n", strerror(errno));
        return 1;
    }
    execv(argv[1], argv + 1);
    fprintf(stderr, "background: %s: %s\n", argv[1], strerror(errno));
    return 127;
}
