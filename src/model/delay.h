// The Delay block: delays each channel of a frame-based signal by D samples across frame
// boundaries, starting from an all-zero history. Copies only, no arithmetic.
#pragma once

#include "driver/block.h"

namespace bm7 {

// Fills the method table of a Delay record; does nothing else.
void registerDelay(BlockRecord* block);

}  // namespace bm7
