// Deinterleave: reorders a frame of K channels and F samples per channel from interleaved
// order (sample t of channel c at t*K + c) to channel-major order (at c*F + t). It reads
// its input through the element pointers, or from InputPort::run once a caller has
// noted the run there (findInputRuns), as it has no initializeConditions of its own.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerDeinterleave(BlockRecord* block);

}  // namespace bm7
