// Upsample & Hold: merges K input frames of F samples into one output frame of U*F
// samples. In each group of U outputs, input j is placed at its phase (counted from 1)
// and every output holds the value placed last; the hold restarts at 0.0 in every call.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerUpsampleHold(BlockRecord* block);

}  // namespace bm7
