// Real FFT ("FFT(u)"): the unscaled N-point DFT of a real frame of N samples, written as a
// split complex vector of 2N doubles (N real parts, then N imaginary parts, all N bins).
// Style 1: the widths N and 2N are taken from the record, never from the parameter.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerRealFft(BlockRecord* block);

// The block's outputs but for the bins above the middle, N/2 + 1 ... N - 1, for a reader
// that uses the conjugates of bins N - k instead: their real parts are left as they were,
// and their imaginary parts are undefined, as the transform may work there.
void realFftLowerHalf(BlockRecord& block);

}  // namespace bm7
