// fail: writes the message and a line feed to standard error (waiting while it
// is full), then ends the process with status 1. Nothing is flushed or freed.
#pragma once

#include <string_view>

[[noreturn]] void fail(std::string_view message);
