#include "blocks/phase_arrays.h"

#include <cstdlib>

namespace bm7 {
namespace {

// One byte at least, so that zero ports still get an address that is not null.
void* allocateArray(int count, std::size_t elementSize) {
    if (count < 0) return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(count) * elementSize;
    return std::malloc(bytes > 0 ? bytes : 1);
}

}  // namespace

bool allocatePhaseArrays(BlockRecord& block, int count, int phaseParam, std::size_t addressSize) {
    void* addresses = allocateArray(count, addressSize);
    if (!addresses) {
        reportError(block, "Out of memory");
        return false;
    }
    block.pointerWork[0] = addresses;
    int* phases = static_cast<int*>(allocateArray(count, sizeof(int)));
    if (!phases) {
        reportError(block, "Out of memory");
        return false;
    }
    for (int j = 0; j < count; ++j) phases[j] = paramInt(block, phaseParam, j) - 1;
    block.pointerWork[1] = phases;
    return true;
}

void freeAddressArray(BlockRecord& block) {
    if (block.pointerWorkCount < 2) return;
    std::free(block.pointerWork[0]);
    block.pointerWork[0] = nullptr;
}

void freePhaseArray(BlockRecord& block) {
    if (block.pointerWorkCount < 2) return;
    std::free(block.pointerWork[1]);
    block.pointerWork[1] = nullptr;
}

}  // namespace bm7
