// Deinterleave: reorders a frame of K channels and F samples per channel from interleaved
// order (sample t of channel c at t*K + c) to channel-major order (at c*F + t).
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerDeinterleave(BlockRecord* block);

}  // namespace bm7
