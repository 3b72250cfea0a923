#include "blocks/fifo.h"

#include <algorithm>

namespace bm7 {
namespace {

// The shape, re-read from the parameters at every use.
struct Shape {
    int inputLength;
    int outputLength;
    int channels;
    bool channelMajor;
    int historyLength() const { return outputLength - inputLength; }
};

Shape shapeOf(const BlockRecord& block) {
    return {paramInt(block, 0), paramInt(block, 1), paramInt(block, 2), paramInt(block, 3) != 0};
}

// Where sample 0 of a channel sits in a frame of `length` samples, and the distance from
// one sample to the next.
struct Lane {
    int first;
    int stride;
};

Lane laneOf(const Shape& shape, int channel, int length) {
    if (shape.channelMajor) return {channel * length, 1};
    return {channel, shape.channels};
}

void initializeSizes(BlockRecord* block) {
    const Shape shape = shapeOf(*block);
    block->paramCountExpected = 4;
    block->contStateCount = 0;
    block->discStateCount = std::max(shape.historyLength(), 0) * shape.channels;
    block->inputCount = 1;
    block->inputPorts[0].width = shape.channels * shape.inputLength;
    block->inputPorts[0].directFeedthrough = 1;
    block->outputCount = 1;
    block->outputPorts[0].width = shape.channels * shape.outputLength;
    block->sampleTimeCount = 1;
    block->realWorkCount = 0;
    block->integerWorkCount = 1;
    block->pointerWorkCount = 0;
    block->modeCount = 0;
}

void initializeConditions(BlockRecord* block) {
    std::fill_n(block->discreteStates, block->discStateCount, 0.0);
    block->integerWork[0] = 0;
    InputPort& input = block->inputPorts[0];
    input.run = contiguousRun(input.elementPointers, input.width);
}

// Copies `count` input samples of one lane from sample `from` on to `to`, `toStride`
// apart: as one block when both sides are contiguous runs.
void copyInput(const InputPort& input, Lane source, int from, int count, double* to, int toStride) {
    if (count <= 0) return;  // a window shorter than the frame keeps no history
    if (input.run != nullptr && source.stride == 1 && toStride == 1) {
        const double* first = input.run + source.first + from;
        std::copy(first, first + count, to);
        return;
    }
    const double* const* in = input.elementPointers;
    for (int i = 0; i < count; ++i)
        to[i * toStride] = *in[source.first + (from + i) * source.stride];
}

// Copies history rows [firstRow, endRow) of one channel to the output from position `to`.
void copyHistory(const double* history, int channels, int firstRow, int endRow, double* out, int to,
                 int outStride) {
    // The model's single channel is contiguous on both sides: a plain block copy.
    if (channels == 1 && outStride == 1) {
        std::copy(history + firstRow, history + endRow, out + to);
        return;
    }
    for (int row = firstRow; row < endRow; ++row, to += outStride)
        out[to] = history[row * channels];
}

// The ring's head, always in [0, history) while the ring is in use, marks a window that
// slides in place instead: the model's integer area has no room for another word.
constexpr int kSlidesInPlace = -1;

bool slidesInPlace(const BlockRecord& block) {
    return block.integerWork[0] == kSlidesInPlace;
}

// The previous window's newest samples are this window's history: they move to its
// front, and the frame follows them.
void slideWindow(BlockRecord* block, const Shape& shape) {
    const int history = shape.historyLength();
    double* out = block->outputPorts[0].signal;
    if (history > 0) std::copy(out + shape.inputLength, out + shape.outputLength, out);
    const int kept = std::max(history, 0);
    copyInput(block->inputPorts[0], {0, 1}, kept - history, shape.outputLength - kept, out + kept,
              1);
}

void outputs(BlockRecord* block, int) {
    const Shape shape = shapeOf(*block);
    if (slidesInPlace(*block)) {
        slideWindow(block, shape);
        return;
    }
    const int history = shape.historyLength();
    const int head = block->integerWork[0];
    const InputPort& input = block->inputPorts[0];
    double* out = block->outputPorts[0].signal;
    for (int c = 0; c < shape.channels; ++c) {
        const Lane source = laneOf(shape, c, shape.inputLength);
        const Lane target = laneOf(shape, c, shape.outputLength);
        const double* past = block->discreteStates + c;
        int i = 0;
        if (history > 0) {
            // Rows head ... D-1 are older than rows 0 ... head-1.
            copyHistory(past, shape.channels, head, history, out, target.first, target.stride);
            copyHistory(past, shape.channels, 0, head, out,
                        target.first + (history - head) * target.stride, target.stride);
            i = history;
        }
        copyInput(input, source, i - history, shape.outputLength - i,
                  out + target.first + i * target.stride, target.stride);
    }
}

void update(BlockRecord* block, int) {
    if (slidesInPlace(*block)) return;
    const Shape shape = shapeOf(*block);
    const int history = shape.historyLength();
    const int head = block->integerWork[0];
    const InputPort& input = block->inputPorts[0];
    const int rowStride = shape.channels;
    for (int c = 0; c < shape.channels; ++c) {
        const Lane source = laneOf(shape, c, shape.inputLength);
        double* past = block->discreteStates + c;
        if (history <= shape.inputLength) {
            // The new frame alone covers the whole history.
            copyInput(input, source, shape.inputLength - history, history, past, rowStride);
        } else {
            // Rows head ... D-1 first, then round to row 0.
            const int untilEnd = std::min(shape.inputLength, history - head);
            copyInput(input, source, 0, untilEnd, past + head * rowStride, rowStride);
            copyInput(input, source, untilEnd, shape.inputLength - untilEnd, past, rowStride);
        }
    }
    block->integerWork[0] = history <= shape.inputLength ? 0 : (head + shape.inputLength) % history;
}

}  // namespace

void slideWindowInPlace(BlockRecord* block) {
    if (shapeOf(*block).channels != 1) return;
    block->integerWork[0] = kSlidesInPlace;
    std::fill_n(block->outputPorts[0].signal, block->outputPorts[0].width, 0.0);
}

void registerFifo(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = initializeConditions;
    methods.outputs.byRecord = outputs;
    methods.update = update;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
