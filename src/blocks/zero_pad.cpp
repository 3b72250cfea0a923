#include "blocks/zero_pad.h"

#include <algorithm>

namespace bm7 {
namespace {

const char* const kTooNarrow = "Zero Pad: the output is narrower than the padded length";

void initializeSizes(BlockRecord* block) {
    block->paramCountExpected = 1;
    block->inputCount = -1;
    block->outputCount = -1;
    block->directFeedthrough = 1;
    block->sampleTimeCount = 1;
    block->integerWorkCount = 1;
}

void initializeSampleTimes(BlockRecord* block) {
    block->samplePeriods[0] = -1.0;
    block->sampleOffsets[0] = 0.0;
}

// The length is truncated, not rounded. Without a second element, or with a nonzero one,
// the frame may be cut; a second element of 0.0 only ever pads.
int paddedLength(const BlockRecord& block) {
    const int frameLength = block.inputCount;
    const int target = static_cast<int>(paramReal(block, 0, 0));
    const bool mayCut =
        paramRows(block, 0) * paramCols(block, 0) <= 1 || paramReal(block, 0, 1) != 0.0;
    if (target == -1) return frameLength;
    if (mayCut) return target;
    return std::max(target, frameLength);
}

void initializeConditions(double*, BlockRecord* block) {
    int length = paddedLength(*block);
    if (length > block->outputCount) {
        reportError(*block, kTooNarrow);
        length = block->outputCount;
    }
    block->integerWork[0] = length;
}

void outputs(double* out, double*, const double* const* in, BlockRecord* block, int) {
    const int frameLength = block->inputCount;
    const int length = block->integerWork[0];
    const int copied = std::min(frameLength, length);
    for (int i = 0; i < copied; ++i) out[i] = *in[i];
    for (int i = std::max(frameLength, 0); i < length; ++i) out[i] = 0.0;
}

}  // namespace

void registerZeroPad(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = initializeSampleTimes;
    methods.initializeConditions.withVectors = initializeConditions;
    methods.outputs.withVectors = outputs;
    methods.update = emptyTaskMethod;
    methods.derivatives = emptyMethod;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
