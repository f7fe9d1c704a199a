// The CI's report of the framework (scripts/framework-report.c), run on the
// simulation: it names every function as the tool would find it, or not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "tool.h"

TEST(FrameworkReport, NamesEveryFunctionFoundOrMissing) {
    Outcome whole = runProgram(FRAMEWORK_REPORT, {});
    EXPECT_EQ(whole.status, 0) << whole.out;
    EXPECT_THAT(whole.out, testing::HasSubstr("\nframework: 6 of 6 functions found\n"));

    Options lacking;
    lacking.library = "libmultitouch_sim_no_MTActuatorOpen_MTActuationActuate" LIBRARY_SUFFIX;
    Outcome run = runProgram(FRAMEWORK_REPORT, {}, lacking);
    EXPECT_EQ(run.status, 1);
    std::set<std::string> found, missing;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name, verdict;
        words >> name >> verdict;
        if (verdict == "found," || verdict == "found")
            found.insert(name);
        else if (verdict == "MISSING")
            missing.insert(name);
    }
    EXPECT_EQ(missing, (std::set<std::string>{"MTActuatorOpen", "MTActuationActuate"})) << run.out;
    EXPECT_EQ(found, (std::set<std::string>{"MTDeviceCreateList", "MTDeviceGetDeviceID", "MTActuatorCreateFromDeviceID",
                                            "MTActuationCreateFromDictionary"}))
        << run.out;
}
