#include "model/delay.h"

#include <algorithm>

#include "model/frame_history.h"

namespace bm7 {
namespace {

enum Param { frameLengthParam, delayParam, channelsParam, layoutParam, paramTotal };

struct Shape {
    int frameLength;
    int delay;
    int channels;
    FrameLayout layout;

    // A negative delay would write outside the frame and a negative frame length would
    // move the history position outside the history.
    bool usable() const { return delay >= 0 && frameLength >= 0; }
};

Shape shapeOf(const BlockRecord& block) {
    const int frameLength = paramInt(block, frameLengthParam);
    const int channels = paramInt(block, channelsParam);
    const bool channelMajor = paramInt(block, layoutParam) != 0;
    return {frameLength, paramInt(block, delayParam), channels,
            FrameLayout::of(channelMajor, frameLength, channels)};
}

void initializeSizes(BlockRecord* block) {
    const Shape shape = shapeOf(*block);
    block->paramCountExpected = paramTotal;
    block->contStateCount = 0;
    block->discStateCount = shape.channels * shape.delay;
    block->inputCount = 1;
    block->inputPorts[0].width = shape.channels * shape.frameLength;
    block->inputPorts[0].directFeedthrough = shape.delay < shape.frameLength ? 1 : 0;
    block->outputCount = 1;
    block->outputPorts[0].width = shape.channels * shape.frameLength;
    block->sampleTimeCount = 1;
    block->realWorkCount = 0;
    block->integerWorkCount = 1;
    block->pointerWorkCount = 0;
    block->modeCount = 0;
}

void initializeConditions(BlockRecord* block) {
    const Shape shape = shapeOf(*block);
    if (!shape.usable()) {
        reportError(*block, "Delay: the delay and the frame length must not be negative");
        return;
    }
    block->integerWork[0] = 0;
    std::fill_n(block->discreteStates, shape.delay * shape.channels, 0.0);
    InputPort& input = block->inputPorts[0];
    input.run = contiguousRun(input.elementPointers, input.width);
}

// One channel held as contiguous runs on every side: the same values, copied in blocks.
void delayRun(const BlockRecord& block, const Shape& shape) {
    const double* input = block.inputPorts[0].run;
    double* output = block.outputPorts[0].signal;
    const double* history = block.discreteStates;
    const int historyHead = std::min(shape.frameLength, shape.delay);
    const int slot = block.integerWork[0];
    const int untilEnd = std::min(historyHead, shape.delay - slot);
    std::copy_n(history + slot, untilEnd, output);
    std::copy_n(history, historyHead - untilEnd, output + untilEnd);
    std::copy_n(input, shape.frameLength - historyHead, output + historyHead);
}

// The history holds slot m, channel k at m * channels + k whatever the frame layout.
void delayChannel(const BlockRecord& block, const Shape& shape, int channel) {
    const double* const* input = block.inputPorts[0].elementPointers;
    double* output = block.outputPorts[0].signal;
    const double* history = block.discreteStates + channel;
    const int stride = shape.layout.sampleStride;
    const int historyHead = std::min(shape.frameLength, shape.delay);
    const int delaySpan = shape.delay * stride;
    int slot = block.integerWork[0];
    int element = shape.layout.at(0, channel);
    for (int sample = 0; sample < historyHead; ++sample, element += stride) {
        output[element] = history[slot * shape.channels];
        if (++slot == shape.delay) slot = 0;
    }
    for (int sample = historyHead; sample < shape.frameLength; ++sample, element += stride)
        output[element] = *input[element - delaySpan];
}

void outputs(BlockRecord* block, int) {
    const Shape shape = shapeOf(*block);
    if (!shape.usable()) return;
    if (block->inputPorts[0].run != nullptr && shape.channels == 1 && shape.delay > 0) {
        delayRun(*block, shape);
        return;
    }
    for (int channel = 0; channel < shape.channels; ++channel) delayChannel(*block, shape, channel);
}

void update(BlockRecord* block, int) {
    const Shape shape = shapeOf(*block);
    if (!shape.usable()) return;
    const FrameHistory history{block->discreteStates, shape.delay, shape.channels,
                               block->integerWork[0]};
    for (int channel = 0; channel < shape.channels; ++channel)
        storeNewest(history, block->inputPorts[0], shape.layout, shape.frameLength, channel);
    block->integerWork[0] = positionAfter(history, shape.frameLength);
}

}  // namespace

void registerDelay(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = initializeConditions;
    methods.outputs.byRecord = outputs;
    methods.update = update;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
