// How the process ends when its one line cannot simply be written: standard
// error gone, at its size limit or full, and memory running out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sanitizer.h"
#include "tool.h"

TEST(Fail, ExitStatusIsOneEvenWhenStandardErrorCannotBeWritten) {
    Options closed;
    closed.closeStderr = true;
    EXPECT_EQ(runThrum({"2x"}, closed).status, 1);
    Options broken;
    broken.brokenPipeStderr = true;
    EXPECT_EQ(runThrum({"2x"}, broken).status, 1);

    // Standard error a file at its size limit: the write fails instead of the
    // signal ending the process. Without the simulation its log is not written
    // either, so only the tool's own line meets the limit. (That line is "no
    // MTDeviceCreateList" here; a Mac has the framework itself.)
    Options unlimited;
    unlimited.redirect = false;
    std::string line = runThrum({"2x"}, unlimited).err;
    ASSERT_FALSE(line.empty());
    for (unsigned long long limit : {0, 8}) {
        Options full = unlimited;
        full.limits = {{RLIMIT_FSIZE, limit}};
        Outcome run = runThrum({"2x"}, full);
        EXPECT_EQ(run.status, 1) << limit;
        EXPECT_EQ(run.err, line.substr(0, limit)) << limit;
    }
}

TEST(Fail, AFullNonBlockingStandardErrorGetsTheWholeLineOnceDrained) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(fcntl(ends[0], F_SETFD, FD_CLOEXEC), 0);
    ASSERT_EQ(fcntl(ends[1], F_SETFD, FD_CLOEXEC), 0);
    ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    std::string filler(4096, '.');
    size_t filled = 0;
    for (ssize_t n; (n = write(ends[1], filler.data(), filler.size())) > 0;)
        filled += size_t(n);
    ASSERT_EQ(errno, EAGAIN);

    // Longer than the pipe holds, so the line goes out in several writes.
    std::string argument(100000, 'x');
    std::string drained;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        char buffer[65536];
        for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;)
            drained.append(buffer, size_t(n));
    });
    Options options;
    options.stderrFd = ends[1];
    Outcome run = runThrum({"1", argument}, options);
    close(ends[1]);
    reader.join();
    close(ends[0]);

    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(drained.size(), filled + 13 + argument.size());
    EXPECT_EQ(drained.substr(filled), "not a step: " + argument + "\n");
}

TEST(Fail, RunningOutOfMemoryEndsWithItsOwnLine) {
#ifdef __APPLE__
    GTEST_SKIP() << "macOS enforces no address-space limit and passes at most 1 MiB of arguments, "
                    "so a run cannot be made to run out of memory from outside";
#endif
    // 300,000 steps need some 30 MB more than the tool needs to start. The
    // command line itself needs a larger stack limit to be passed at all.
    std::vector<std::string> args(300000, "0:0:0:0");
    args.insert(args.begin(), "1");
    auto endsOutOfMemory = [](Outcome& run, const std::string& where) {
#ifdef THRUM_ASAN
        // The sanitizer notes each refusal on standard error itself first.
        std::string note = "WARNING: AddressSanitizer failed to allocate";
        if (run.err.rfind("==", 0) == 0 && run.err.find(note) != std::string::npos)
            run.err.erase(0, run.err.find('\n') + 1);
#endif
        EXPECT_EQ(run.status, 1) << where;
        EXPECT_EQ(run.err, "out of memory\n") << where;
        EXPECT_THAT(events(run, "actuate"), testing::IsEmpty()) << where;
    };
    Options options;
#ifdef THRUM_ASAN
    // The sanitizer reserves far more address space than any limit would
    // leave, so it is its own allocator that is made to refuse instead.
    options.limits = {{RLIMIT_STACK, 64ull << 20}};
    options.asanOptions = "allocator_may_return_null=1:max_allocation_size_mb=1";
    Outcome run = runThrum(args, options);
    endsOutOfMemory(run, "under the sanitizer");
#else
    // What the loader needs before the tool runs depends on the libraries
    // (far more with a CoreFoundation that links a large Unicode library), so
    // the limit is searched upward. Passed over: a limit at which the loader
    // fails (status 127, whatever it prints: it may be "out of memory" too),
    // or at which the simulation no longer fits. The limits are 8 MiB apart,
    // far less than the steps need beyond start-up, so at the first one at
    // which the tool reads its command line it must run out.
    std::string passedOver;
    bool reached = false;
    for (unsigned long long mib = 16; mib <= 256 && !reached; mib += 8) {
        options.limits = {{RLIMIT_STACK, 64ull << 20}, {RLIMIT_AS, mib << 20}};
        Outcome run = runThrum(args, options);
        bool simulationMissing = run.status == 1 && run.err == "no MTDeviceCreateList\n" && events(run, "load").empty();
        if (run.status == 127 || simulationMissing) {
            passedOver += std::to_string(mib) + " MiB: " + std::to_string(run.status) + " " + run.err;
            continue;
        }
        reached = true;
        endsOutOfMemory(run, std::to_string(mib) + " MiB, after\n" + passedOver);
    }
    EXPECT_TRUE(reached) << "the tool never started:\n" << passedOver;
#endif
}
