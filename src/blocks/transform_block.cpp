#include "blocks/transform_block.h"

namespace bm7 {

void declareTransformSizes(BlockRecord* block) {
    block->paramCountExpected = 1;
    block->inputCount = -1;
    block->outputCount = -1;
    block->directFeedthrough = 1;
    block->sampleTimeCount = 1;
}

void transformSampleTimes(BlockRecord* block) {
    block->samplePeriods[0] = paramReal(*block, 0, 0);
    block->sampleOffsets[0] = paramCols(*block, 0) == 2 ? paramReal(*block, 0, 1) : 0.0;
}

}  // namespace bm7
