// The tool's own allocation: running out of memory ends the process through
// fail with "out of memory", never with a thrown exception and an abort.
#include <cstdlib>
#include <new>

#include "fail.h"

// Plain malloc and free underneath, for every form that can pair with another,
// so that what one form allocates any matching form may free.

namespace {

void* allocate(std::size_t size) noexcept {
    // A request for nothing still gets a pointer of its own.
    return std::malloc(size ? size : 1);
}

void* allocateOrFail(std::size_t size) {
    void* memory = allocate(size);
    if (!memory)
        fail("out of memory");
    return memory;
}

}  // namespace

void* operator new(std::size_t size) {
    return allocateOrFail(size);
}
void* operator new[](std::size_t size) {
    return allocateOrFail(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
