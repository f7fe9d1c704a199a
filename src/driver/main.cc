// thrum: plays a haptic pattern on the trackpad, or answers --check.
// Start-up opens the motors before the command line is looked at.
#include <cstdlib>
#include <string_view>
#include <vector>

#include "driver/run.h"
#include "fail.h"
#include "haptics/framework.h"
#include "haptics/motors.h"

// For what(1) and strings(1); the tool never prints it.
[[gnu::used]] static const char identification[] = "@(#)thrum " THRUM_VERSION;

int main(int argc, char* argv[]) {
    loadFramework();
    devices = createList();
    motors = openMotors();
    if (motors.empty())
        fail("no trackpad with a haptic motor");

    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    if (arguments.size() == 1 && arguments[0] == "--check")
        exit(0);

    return runPattern();
}
