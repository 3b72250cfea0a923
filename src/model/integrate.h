// The Integrate block: a moving-window sum or mean over the last N samples of each
// channel, the current one included. It keeps an exact running sum and a history of the
// last N inputs, so a sample costs one addition and one subtraction whatever N is.
#pragma once

#include "driver/block.h"

namespace bm7 {

// Fills the method table of an Integrate record; does nothing else.
void registerIntegrate(BlockRecord* block);

// The outputs of two Integrate blocks, neither of which reads the other's output, with
// exactly the values their own outputs would give. Each running sum is a chain of
// dependent additions; going through two chains side by side lets the processor work on
// both at once. Single-channel blocks of one frame length with contiguous inputs go
// together; any others go one after the other. Given `firstOutputSum`, it receives the
// first block's outputs added from the first to the last: a third chain, which goes
// beside the other two at no cost of its own.
void integrateOutputsTogether(BlockRecord& first, BlockRecord& second,
                              double* firstOutputSum = nullptr);

}  // namespace bm7
