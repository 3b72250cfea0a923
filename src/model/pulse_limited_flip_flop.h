// The Pulse Limited Flip Flop block: a set/reset flip-flop per channel, evaluated sample
// by sample, whose output pulses last at least Lmin and at most Lmax samples. Reset has
// priority over set; state and pulse counter carry across frames.
#pragma once

#include "driver/block.h"

namespace bm7 {

// Fills the method table of a Pulse Limited Flip Flop record; does nothing else.
void registerPulseLimitedFlipFlop(BlockRecord* block);

}  // namespace bm7
