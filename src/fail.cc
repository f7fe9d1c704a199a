#include "fail.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

void fail(std::string_view message) {
    // A reader of standard error that has gone away, or a file at its size
    // limit, must not turn the exit status into death by a signal: the write
    // fails instead, and the status is 0 or 1 and nothing else.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);

    char lineFeed = '\n';
    iovec parts[2] = {{const_cast<char*>(message.data()), message.size()}, {&lineFeed, 1}};
    iovec* next = parts;
    int count = 2;
    while (count > 0) {
        ssize_t written = writev(STDERR_FILENO, next, count);
        if (written < 0) {
            if (errno == EINTR)  // GCOVR_EXCL_BR_LINE never true: the tool catches no signal to interrupt a write
                continue;        // GCOVR_EXCL_LINE never reached, as no write is interrupted
            // Standard error may be non-blocking and full: wait until the
            // reader makes room, as a blocking write would, then go on.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // An interrupted or failed poll only means another try.
                pollfd room = {STDERR_FILENO, POLLOUT, 0};
                poll(&room, 1, -1);
                continue;
            }
            break;
        }
        // A partial write: go on from the first byte not yet written.
        auto left = static_cast<size_t>(written);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    _exit(1);
}
