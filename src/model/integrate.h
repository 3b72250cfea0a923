// The Integrate block: a moving-window sum or mean over the last N samples of each
// channel, the current one included. It keeps an exact running sum and a history of the
// last N inputs, so a sample costs one addition and one subtraction whatever N is.
#pragma once

#include "driver/block.h"

namespace bm7 {

// Fills the method table of an Integrate record; does nothing else.
void registerIntegrate(BlockRecord* block);

}  // namespace bm7
