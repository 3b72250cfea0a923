#include "model/integrate.h"

#include <algorithm>

#include "model/frame_history.h"

namespace bm7 {
namespace {

enum Param {
    frameLengthParam,
    initialSumParam,
    windowLengthParam,
    meanParam,
    channelsParam,
    layoutParam,
    paramTotal
};

struct Shape {
    int frameLength;
    int windowLength;
    int channels;
    FrameLayout layout;

    // The history arithmetic wraps modulo the window length and steps by the frame length.
    bool usable() const { return windowLength >= 1 && frameLength >= 0; }
};

Shape shapeOf(const BlockRecord& block) {
    const int frameLength = paramInt(block, frameLengthParam);
    const int channels = paramInt(block, channelsParam);
    const bool channelMajor = paramInt(block, layoutParam) != 0;
    return {frameLength, paramInt(block, windowLengthParam), channels,
            FrameLayout::of(channelMajor, frameLength, channels)};
}

// History slot m of channel k; the running sums come first in the states.
double* historyOf(const BlockRecord& block, int channels) {
    return block.discreteStates + channels;
}

void initializeSizes(BlockRecord* block) {
    const Shape shape = shapeOf(*block);
    block->paramCountExpected = paramTotal;
    block->contStateCount = 0;
    block->discStateCount = (shape.windowLength + 1) * shape.channels;
    block->inputCount = 1;
    block->inputPorts[0].width = shape.channels * shape.frameLength;
    block->inputPorts[0].directFeedthrough = 1;
    block->outputCount = 1;
    block->outputPorts[0].width = shape.channels * shape.frameLength;
    block->sampleTimeCount = 1;
    block->realWorkCount = shape.channels;
    block->integerWorkCount = 1;
    block->pointerWorkCount = 0;
    block->modeCount = 0;
}

void initializeConditions(BlockRecord* block) {
    const Shape shape = shapeOf(*block);
    if (!shape.usable()) {
        reportError(*block,
                    "Integrate: the window length must be at least 1 sample "
                    "and the frame length must not be negative");
        return;
    }
    const double initialSum = paramReal(*block, initialSumParam);
    std::fill_n(block->discreteStates, shape.channels, initialSum);
    std::fill_n(historyOf(*block, shape.channels), shape.windowLength * shape.channels, 0.0);
    block->integerWork[0] = 0;
    InputPort& input = block->inputPorts[0];
    input.run = contiguousRun(input.elementPointers, input.width);
}

// The first min(F, N) samples take their oldest input from the history, the rest from
// the frame itself. The sum is carried, never recomputed, so its rounding accumulates.
double sumChannel(const BlockRecord& block, const Shape& shape, int channel, double scale) {
    const double* const* input = block.inputPorts[0].elementPointers;
    double* output = block.outputPorts[0].signal;
    const double* history = historyOf(block, shape.channels) + channel;
    const int stride = shape.layout.sampleStride;
    const int historyHead = std::min(shape.frameLength, shape.windowLength);
    const int windowSpan = shape.windowLength * stride;
    double sum = block.discreteStates[channel];
    int slot = block.integerWork[0];
    int element = shape.layout.at(0, channel);
    for (int sample = 0; sample < historyHead; ++sample, element += stride) {
        sum = (*input[element] + sum) - history[slot * shape.channels];
        output[element] = scale * sum;
        if (++slot == shape.windowLength) slot = 0;
    }
    for (int sample = historyHead; sample < shape.frameLength; ++sample, element += stride) {
        sum = (*input[element] + sum) - *input[element - windowSpan];
        output[element] = scale * sum;
    }
    return sum;
}

void outputs(BlockRecord* block, int) {
    const Shape shape = shapeOf(*block);
    if (!shape.usable()) return;
    const double scale = paramInt(*block, meanParam) != 0 ? 1.0 / shape.windowLength : 1.0;
    for (int channel = 0; channel < shape.channels; ++channel)
        block->realWork[channel] = sumChannel(*block, shape, channel, scale);
}

void update(BlockRecord* block, int) {
    const Shape shape = shapeOf(*block);
    if (!shape.usable()) return;
    const FrameHistory history{historyOf(*block, shape.channels), shape.windowLength,
                               shape.channels, block->integerWork[0]};
    for (int channel = 0; channel < shape.channels; ++channel) {
        block->discreteStates[channel] = block->realWork[channel];
        storeNewest(history, block->inputPorts[0], shape.layout, shape.frameLength, channel);
    }
    block->integerWork[0] = positionAfter(history, shape.frameLength);
}

}  // namespace

void registerIntegrate(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = initializeConditions;
    methods.outputs.byRecord = outputs;
    methods.update = update;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
