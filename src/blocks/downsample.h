// Downsample: splits one input frame of F samples into K output frames of F/D samples,
// output j keeping every D-th input sample from its own phase (counted from 1). With
// phases 1 ... D it is the polyphase split at the head of a decimating filter bank.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerDownsample(BlockRecord* block);

}  // namespace bm7
