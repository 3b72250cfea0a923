// Real IFFT ("IFFT"): the N-sample real inverse DFT (factor 1/N) of a split complex
// spectrum of N bins. Style 1: input and output are both 2N wide, read from the record;
// the result is the first N outputs, the rest is the transform's working storage.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerRealIfft(BlockRecord* block);

}  // namespace bm7
