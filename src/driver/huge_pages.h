// Storage that a model step runs through from end to end, frame after frame, placed on
// 2 MiB pages where the system gives them on request (transparent huge pages in
// "madvise" or "always" mode). A step touches a few megabytes; on 4 KiB pages that is
// some two thousand address translations, which a step that wakes after a pause, its
// caches cold, would each have to fetch again. Elsewhere the pages are ordinary ones.
#pragma once

#include <cstddef>
#include <vector>

namespace bm7 {

// Whole 2 MiB pages, zeroed, aligned to their size; throws std::bad_alloc.
void* allocateHugePages(std::size_t bytes);
void freeHugePages(void* memory, std::size_t bytes) noexcept;

template <class T>
struct HugePageAllocator {
    using value_type = T;

    HugePageAllocator() = default;
    template <class U>
    HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) { return static_cast<T*>(allocateHugePages(count * sizeof(T))); }
    void deallocate(T* memory, std::size_t count) noexcept {
        freeHugePages(memory, count * sizeof(T));
    }
    friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }
};

template <class T>
using HugePageVector = std::vector<T, HugePageAllocator<T>>;

}  // namespace bm7
