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

double scaleOf(const BlockRecord& block, const Shape& shape) {
    return paramInt(block, meanParam) != 0 ? 1.0 / shape.windowLength : 1.0;
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
    const double scale = scaleOf(*block, shape);
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

// One single-channel block's running sum, stepped a sample at a time by a caller that
// steps another beside it.
struct Chain {
    const double* input;
    double* output;
    const double* history;
    int windowLength;
    int historyHead;  // the first samples whose oldest input comes from the history
    int slot;
    double sum;
    double scale;

    // The same operations in the same order as sumChannel.
    void step(int sample) {
        double oldest;
        if (sample < historyHead) {
            oldest = history[slot];
            if (++slot == windowLength) slot = 0;
        } else {
            oldest = input[sample - windowLength];
        }
        sum = (input[sample] + sum) - oldest;
        output[sample] = scale * sum;
    }
};

bool chainable(const BlockRecord& block, const Shape& shape) {
    return shape.usable() && shape.channels == 1 && block.inputPorts[0].run != nullptr;
}

Chain chainOf(const BlockRecord& block, const Shape& shape) {
    return {block.inputPorts[0].run,
            block.outputPorts[0].signal,
            historyOf(block, 1),
            shape.windowLength,
            std::min(shape.frameLength, shape.windowLength),
            block.integerWork[0],
            block.discreteStates[0],
            scaleOf(block, shape)};
}

// A block's outputs added from the first to the last.
double sumLeftToRight(const BlockRecord& block) {
    const double* out = block.outputPorts[0].signal;
    const int width = block.outputPorts[0].width;
    if (width <= 0) return 0.0;
    double sum = out[0];
    for (int i = 1; i < width; ++i) sum += out[i];
    return sum;
}

}  // namespace

void integrateOutputsTogether(BlockRecord& first, BlockRecord& second, double* firstOutputSum) {
    const Shape firstShape = shapeOf(first);
    const Shape secondShape = shapeOf(second);
    const int length = firstShape.frameLength;
    if (!chainable(first, firstShape) || !chainable(second, secondShape) ||
        length != secondShape.frameLength || length <= 0) {
        outputs(&first, 0);
        outputs(&second, 0);
        if (firstOutputSum != nullptr) *firstOutputSum = sumLeftToRight(first);
        return;
    }
    Chain a = chainOf(first, firstShape);
    Chain b = chainOf(second, secondShape);
    a.step(0);
    b.step(0);
    double total = a.output[0];
    for (int sample = 1; sample < length; ++sample) {
        a.step(sample);
        b.step(sample);
        total += a.output[sample];
    }
    if (firstOutputSum != nullptr) *firstOutputSum = total;
    first.realWork[0] = a.sum;
    second.realWork[0] = b.sum;
}

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
