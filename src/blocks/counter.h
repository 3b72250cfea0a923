// The Counter block: one running count per channel, advanced once per frame sample by one
// or by a step input, optionally reset or loaded by inputs and stopped at a limit.
// Each output sample is the count after that sample; `update` commits the last one.
#pragma once

#include "driver/block.h"

namespace bm7 {

// Fills the method table of a Counter record; does nothing else.
void registerCounter(BlockRecord* block);

}  // namespace bm7
