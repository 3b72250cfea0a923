// FIFO: turns a stream of short frames (P0 new samples per channel per step) into a
// sliding window of the last P1 samples per channel, oldest first. The history of
// P1 - P0 samples per channel is a circular buffer in the discrete states, so a step
// never moves old samples, unless the window slides in place (below). Layout flag P3:
// 0 interleaved, nonzero channel-major.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerFifo(BlockRecord* block);

// Keeps a single-channel FIFO's window in its own output, slid along by each frame, so
// the history is copied once per frame instead of into the ring and out again. Only for
// an instance whose outputs run in every frame, as its update then does nothing; call
// after initializeConditions, which returns it to the ring. Other shapes keep the ring.
void slideWindowInPlace(BlockRecord* block);

}  // namespace bm7
