// The two arrays that Downsample and Upsample & Hold keep behind pointerWork: one port
// address per port and one zero-based phase per port. Both are allocated at
// initializeConditions and freed at terminate; a failed allocation reports "Out of memory".
#pragma once

#include "driver/block.h"

namespace bm7 {

// Allocates `count` port addresses of `addressSize` bytes into pointerWork[0], then the
// phases into pointerWork[1]: element j of the row parameter `phaseParam`, rounded half up,
// minus one. A negative count cannot be allocated and fails like an exhausted heap.
// Returns false after reporting; a slot not reached stays null.
bool allocatePhaseArrays(BlockRecord& block, int count, int phaseParam, std::size_t addressSize);

// Free one array each and clear its slot; both accept a slot that is already null and a
// block that declared no pointer work (a negative port count declares nothing).
void freeAddressArray(BlockRecord& block);
void freePhaseArray(BlockRecord& block);

// Null until allocatePhaseArrays has succeeded.
inline const int* phasesOf(const BlockRecord& block) {
    if (block.pointerWorkCount < 2) return nullptr;
    return static_cast<const int*>(block.pointerWork[1]);
}

}  // namespace bm7
