// What Real FFT and Real IFFT declare alike: one parameter (the sample time), vector
// widths left to the registration, and the sample time read from that parameter.
#pragma once

#include "driver/block.h"

namespace bm7 {

// Both widths are declared -1; the registration writes the instance's widths afterwards.
void declareTransformSizes(BlockRecord* block);
// Period from the parameter; offset from its second column when it has exactly two.
void transformSampleTimes(BlockRecord* block);

}  // namespace bm7
