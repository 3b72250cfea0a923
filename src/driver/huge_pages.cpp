#include "driver/huge_pages.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace bm7 {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

#if defined(__SANITIZE_ADDRESS__)

// Under AddressSanitizer the blocks come from the heap, of exactly the size asked for,
// so that a step running past the end of one is caught.
void* allocateHugePages(std::size_t bytes) {
    void* memory = ::operator new (std::max<std::size_t>(bytes, 1), std::align_val_t{kHugePage});
    std::memset(memory, 0, bytes);
    return memory;
}

void freeHugePages(void* memory, std::size_t) noexcept {
    ::operator delete (memory, std::align_val_t{kHugePage});
}

#else

namespace {

// Whole pages, at least one.
std::uintptr_t roundedUp(std::uintptr_t bytes) {
    return (std::max<std::uintptr_t>(bytes, 1) + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* allocateHugePages(std::size_t bytes) {
    const std::size_t size = roundedUp(bytes);
    // Map a page more than asked, then give back the parts before and after the first
    // aligned stretch of the size asked for.
    void* mapped =
        mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = roundedUp(start);
    if (aligned > start) munmap(mapped, aligned - start);
    const std::uintptr_t end = start + size + kHugePage;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    void* memory = reinterpret_cast<void*>(aligned);
    // A refusal (no huge pages in this kernel, or "never") leaves ordinary pages.
    madvise(memory, size, MADV_HUGEPAGE);
    return memory;
}

void freeHugePages(void* memory, std::size_t bytes) noexcept {
    if (memory != nullptr) munmap(memory, roundedUp(bytes));
}

#endif

}  // namespace bm7
