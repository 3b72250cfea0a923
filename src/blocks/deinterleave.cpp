#include "blocks/deinterleave.h"

#include "driver/frame_loop.h"

namespace bm7 {
namespace {

int channelCount(const BlockRecord& block) {
    return paramInt(block, 0);
}
int frameLength(const BlockRecord& block) {
    return paramInt(block, 1);
}

void initializeSizes(BlockRecord* block) {
    const int width = channelCount(*block) * frameLength(*block);
    block->paramCountExpected = 2;
    block->contStateCount = 0;
    block->discStateCount = 0;
    block->inputCount = 1;
    block->outputCount = 1;
    block->inputPorts[0].width = width;
    block->outputPorts[0].width = width;
    block->inputPorts[0].directFeedthrough = 1;
    block->realWorkCount = 0;
    block->integerWorkCount = 0;
    block->pointerWorkCount = 0;
    block->modeCount = 0;
    block->sampleTimeCount = 1;
}

template <typename Input>
void gatherChannels(Input in, int channels, int length, double* out) {
    for (int c = 0; c < channels; ++c) {
        double* channelOut = out + c * length;
        for (int t = 0; t < length; ++t) channelOut[t] = in[t * channels + c];
    }
}

void outputs(BlockRecord* block, int) {
    const int channels = channelCount(*block);
    const int length = frameLength(*block);
    const InputPort& input = block->inputPorts[0];
    double* out = block->outputPorts[0].signal;
    // The kind has no initializeConditions, so the run is there only once the model has
    // noted it (findInputRuns); until then every element goes through its pointer.
    if (input.run != nullptr) {
        gatherChannels(input.run, channels, length, out);
    } else {
        gatherChannels(ByPointer{input.elementPointers}, channels, length, out);
    }
}

}  // namespace

void registerDeinterleave(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.outputs.byRecord = outputs;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
