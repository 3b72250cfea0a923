// Zero Pad: copies the input frame to the front of the output and fills the rest of the
// target length with zeros, or cuts the frame to that length. Style 1: the input width is
// read from the record; the output length is decided once, at initializeConditions.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerZeroPad(BlockRecord* block);

}  // namespace bm7
