// FIFO: turns a stream of short frames (P0 new samples per channel per step) into a
// sliding window of the last P1 samples per channel, oldest first. The history of
// P1 - P0 samples per channel is a circular buffer in the discrete states, so a step
// never moves old samples. Layout flag P3: 0 interleaved, nonzero channel-major.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerFifo(BlockRecord* block);

}  // namespace bm7
