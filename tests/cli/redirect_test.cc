// The loader redirect acts on the program's own calls alone: a library's
// dlopen of the framework's path and its _exit pass through it untouched, and
// its create calls find CoreFoundation wherever the process loaded it.
#include <gtest/gtest.h>

#include <csignal>

#include "tool.h"

namespace {

Outcome probe(const std::vector<std::string>& args) {
    return runProgram(REDIRECT_PROBE, args);
}

// The line the simulation logs when told that the process ends.
size_t checks(const Outcome& run) {
    return events(run, "kept").size() + events(run, "dropped").size();
}

}  // namespace

TEST(Redirect, OnlyTheProgramsOwnDlopenOfTheFrameworkOpensTheSimulation) {
    Outcome here = probe({"open", "here"});
    EXPECT_EQ(here.status, 0) << here.err;
    EXPECT_EQ(here.out, "simulation\n");
    Outcome library = probe({"open", "library"});
    EXPECT_EQ(library.status, 0) << library.err;
    EXPECT_EQ(library.out, "other\n");
}

TEST(Redirect, OnlyTheProgramsOwnExitTellsTheSimulation) {
    Outcome here = probe({"exit", "here"});
    EXPECT_EQ(here.status, 5) << here.err;
    EXPECT_EQ(checks(here), 1u) << testing::PrintToString(here.log);
    // On a Mac the C library's exit ends in the same code as _exit, after
    // the static destructors: the simulation must not be called then.
    for (const char* elsewhere : {"library", "main"}) {
        Outcome run = probe({"exit", elsewhere});
        EXPECT_EQ(run.status, 5) << elsewhere << ": " << run.err;
        EXPECT_EQ(checks(run), 0u) << elsewhere << ": " << testing::PrintToString(run.log);
    }
}

// The program links no CoreFoundation: the simulation's create calls reach the
// redirect, which must find the one the simulation brought in locally.
TEST(Redirect, CreateCallsFindACoreFoundationOpenedLocally) {
    Outcome run = probe({"list"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "1\n");
    EXPECT_EQ(run.err, "");
}

TEST(Redirect, ACreateCallWithNoCoreFoundationLoadedEndsWithALineNamingIt) {
#ifdef __APPLE__
    GTEST_SKIP() << "on a Mac the redirect links CoreFoundation, so it is always loaded";
#endif
    Outcome run = probe({"create"});
    EXPECT_EQ(run.status, 128 + SIGABRT) << run.out;
    EXPECT_EQ(run.err, "mtredirect: no CFNumberCreate in any loaded library\n");
    EXPECT_EQ(run.out, "");
}
