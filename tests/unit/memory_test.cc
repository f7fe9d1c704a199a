// The tool's allocation functions, linked into this program as into the tool:
// only the nothrow forms give null, and every form pairs with its matching one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

#include "sanitizer.h"

#ifdef THRUM_ASAN
// The sanitizer's allocator would stop the process at a request it cannot
// serve; told so, it gives null as the system's does.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

// Declared here too, for a compiler that leaves sized deallocation out.
void operator delete(void* memory, std::size_t size) noexcept;
void operator delete[](void* memory, std::size_t size) noexcept;

namespace {

// More than any system gives; read at run time so that no compiler judges it.
volatile std::size_t tooMuch = std::numeric_limits<std::size_t>::max() / 2;

// Standard error ends with the one line (a sanitizer may note the refusal first).
const char outOfMemory[] = "(^|\n)out of memory\n$";

struct Pairing {
    const char* name;
    void* (*allocate)(std::size_t);
    void (*release)(void*, std::size_t);
};

// Each allocation form with every deallocation form that may free its memory.
const Pairing pairings[] = {
    {"new, delete", [](std::size_t n) { return ::operator new(n); },
     [](void* p, std::size_t) { ::operator delete(p); }},
    {"new, sized delete", [](std::size_t n) { return ::operator new(n); },
     [](void* p, std::size_t n) { ::operator delete(p, n); }},
    {"new[], delete[]", [](std::size_t n) { return ::operator new[](n); },
     [](void* p, std::size_t) { ::operator delete[](p); }},
    {"new[], sized delete[]", [](std::size_t n) { return ::operator new[](n); },
     [](void* p, std::size_t n) { ::operator delete[](p, n); }},
    {"nothrow new, nothrow delete", [](std::size_t n) { return ::operator new(n, std::nothrow); },
     [](void* p, std::size_t) { ::operator delete(p, std::nothrow); }},
    {"nothrow new, delete", [](std::size_t n) { return ::operator new(n, std::nothrow); },
     [](void* p, std::size_t) { ::operator delete(p); }},
    {"nothrow new[], nothrow delete[]", [](std::size_t n) { return ::operator new[](n, std::nothrow); },
     [](void* p, std::size_t) { ::operator delete[](p, std::nothrow); }},
    {"nothrow new[], delete[]", [](std::size_t n) { return ::operator new[](n, std::nothrow); },
     [](void* p, std::size_t) { ::operator delete[](p); }},
};

}  // namespace

TEST(Allocation, OnlyTheNothrowFormsGiveNullWhenMemoryRunsOut) {
    // A library that asks without throwing handles the null itself.
    EXPECT_EQ(::operator new(tooMuch, std::nothrow), nullptr);
    EXPECT_EQ(::operator new[](tooMuch, std::nothrow), nullptr);
    // Any other request must not come back null, nor throw into a caller that
    // catches nothing: the process ends with the tool's line.
    EXPECT_EXIT(static_cast<void>(::operator new(tooMuch)), testing::ExitedWithCode(1), outOfMemory);
    EXPECT_EXIT(static_cast<void>(::operator new[](tooMuch)), testing::ExitedWithCode(1), outOfMemory);
}

TEST(Allocation, EachFormFreesWhatItsMatchingFormsAllocated) {
    // A leak or a wrong release shows under the sanitizers (make asan), a
    // block short of its size there too, and a release of something the C
    // library never gave out ends this program.
    for (const Pairing& pairing : pairings) {
        for (std::size_t size : {0, 1, 24, 1 << 20}) {
            void* first = pairing.allocate(size);
            void* second = pairing.allocate(size);
            // A request for nothing still gets a pointer of its own.
            ASSERT_NE(first, nullptr) << pairing.name << " " << size;
            ASSERT_NE(second, nullptr) << pairing.name << " " << size;
            EXPECT_NE(first, second) << pairing.name << " " << size;
            std::memset(first, 0xa5, size);
            std::memset(second, 0x5a, size);
            pairing.release(first, size);
            pairing.release(second, size);
        }
    }
}
