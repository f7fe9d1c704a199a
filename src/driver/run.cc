#include "driver/run.h"

#include "fail.h"

int runPattern() {
    fail("no strength");
}
