// The Gated Shift Register block: L entries per channel that capture the data input at
// samples whose gate is nonzero; every output sample is the value captured at the L-th
// most recent gate (0.0 until there were L). The register changes inside `outputs`.
#pragma once

#include "driver/block.h"

namespace bm7 {

// Fills the method table of a Gated Shift Register record; does nothing else.
void registerGatedShiftRegister(BlockRecord* block);

}  // namespace bm7
