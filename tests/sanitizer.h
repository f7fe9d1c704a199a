// THRUM_ASAN is defined when this test program is built with AddressSanitizer,
// whose allocator refuses memory its own way, under gcc or clang alike.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define THRUM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define THRUM_ASAN 1
#endif
#endif
