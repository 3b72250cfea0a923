// Real IFFT ("IFFT"): the N-sample real inverse DFT (factor 1/N) of a split complex
// spectrum of N bins. Style 1: input and output are both 2N wide, read from the record;
// the result is the first N outputs, the rest is the transform's working storage.
#pragma once

#include "driver/block.h"

namespace bm7 {

void registerRealIfft(BlockRecord* block);

// What the block's outputs give for the spectrum whose bin k is spectrum[k] x weights[k]
// (both split, real parts then imaginary, as wide as the block's input), each product
// rounded as Re = ReW*ReS - ImW*ImS and Im = ImS*ReW + ImW*ReS, without storing it: for a
// filter whose product nothing else reads. Both are spectra of real frames, bin N - k
// the conjugate of bin k, so only bins 0 ... N/2 are read (see realFftLowerHalf). The
// input ports are not read.
void realIfftOfProduct(BlockRecord& block, const double* spectrum, const double* weights);

}  // namespace bm7
