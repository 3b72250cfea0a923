#include "blocks/fifo.h"

#include <gtest/gtest.h>

#include <vector>

#include "blocks/block_harness.h"
#include "blocks/naive_dft.h"

namespace bm7 {
namespace {

using blocktest::BlockHarness;
using blocktest::randomFrame;
using blocktest::scalar;

struct FifoShape {
    int inputLength;
    int outputLength;
    int channels;
    bool channelMajor;
};

BlockHarness makeFifo(const FifoShape& shape) {
    return BlockHarness(registerFifo,
                        {scalar(shape.inputLength), scalar(shape.outputLength),
                         scalar(shape.channels), scalar(shape.channelMajor ? 1 : 0)},
                        1, 1);
}

int elementOf(const FifoShape& shape, int t, int c, int length) {
    return shape.channelMajor ? c * length + t : t * shape.channels + c;
}

// Feeds `frames` frames of one random signal per channel and checks every output window
// against the signal itself: the last P1 samples received, zeros before the start.
// In place, the window slides in the output itself and the ring is never used.
void expectSlidingWindows(const FifoShape& shape, int frames, unsigned seed, bool inPlace = false) {
    std::vector<std::vector<double>> signals;
    for (int c = 0; c < shape.channels; ++c)
        signals.push_back(
            randomFrame(static_cast<std::size_t>(frames * shape.inputLength), seed + c));
    BlockHarness fifo = makeFifo(shape);
    fifo.initializeConditions();
    if (inPlace) slideWindowInPlace(&fifo.block);
    for (int k = 0; k < frames; ++k) {
        std::vector<double> frame(fifo.input().size());
        for (int c = 0; c < shape.channels; ++c)
            for (int t = 0; t < shape.inputLength; ++t)
                frame[elementOf(shape, t, c, shape.inputLength)] =
                    signals[c][k * shape.inputLength + t];
        fifo.setInput(frame);
        fifo.step();
        const int end = (k + 1) * shape.inputLength;
        for (int c = 0; c < shape.channels; ++c)
            for (int i = 0; i < shape.outputLength; ++i) {
                const int time = end - shape.outputLength + i;
                const double want = time < 0 ? 0.0 : signals[c][time];
                ASSERT_EQ(fifo.output()[elementOf(shape, i, c, shape.outputLength)], want)
                    << "frame " << k << " channel " << c << " index " << i;
            }
        const int history = shape.outputLength - shape.inputLength;
        if (history > 0) {
            ASSERT_LT(fifo.block.integerWork[0], history);
        }
    }
}

TEST(FifoStreaming, EveryWindowHoldsTheLastSamplesReceivedOldestFirst) {
    expectSlidingWindows({8192, 16384, 1, false}, 5, 1u);
    expectSlidingWindows({1024, 2048, 1, false}, 6, 2u);
    expectSlidingWindows({128, 256, 1, true}, 6, 3u);
    expectSlidingWindows({8192, 32768, 1, false}, 7, 4u);
}

TEST(FifoStreaming, AWindowSlidInPlaceHoldsTheSameSamplesAsTheRing) {
    expectSlidingWindows({8192, 16384, 1, false}, 5, 1u, true);
    expectSlidingWindows({1024, 2048, 1, false}, 6, 2u, true);
    expectSlidingWindows({128, 256, 1, true}, 6, 3u, true);
    expectSlidingWindows({3, 10, 1, false}, 40, 5u, true);
    expectSlidingWindows({16, 6, 1, false}, 5, 8u, true);
    expectSlidingWindows({4, 11, 2, true}, 30, 9u, true);  // several channels keep the ring
}

TEST(FifoStreaming, HistoriesThatWrapMidFrameAndDegenerateShapesStayCorrect) {
    expectSlidingWindows({3, 10, 1, false}, 40, 5u);
    expectSlidingWindows({5, 8, 1, false}, 20, 6u);
    expectSlidingWindows({16, 16, 1, false}, 5, 7u);
    expectSlidingWindows({16, 6, 1, false}, 5, 8u);
}

TEST(FifoLayouts, BothLayoutsCarryTheSameSamplesPerChannel) {
    expectSlidingWindows({4, 11, 2, false}, 30, 9u);
    expectSlidingWindows({4, 11, 2, true}, 30, 9u);
    expectSlidingWindows({6, 9, 3, true}, 20, 10u);
}

TEST(FifoHead, TheClipWindowHeadCyclesThroughTheThreeHistoryFrames) {
    BlockHarness fifo = makeFifo({8192, 32768, 1, false});
    EXPECT_EQ(fifo.block.discStateCount, 24576);
    fifo.initializeConditions();
    const int expected[] = {8192, 16384, 0, 8192, 16384, 0};
    for (int head : expected) {
        fifo.step();
        EXPECT_EQ(fifo.block.integerWork[0], head);
    }

    BlockHarness detector = makeFifo({8192, 16384, 1, false});
    detector.initializeConditions();
    for (int k = 0; k < 3; ++k) {
        detector.step();
        EXPECT_EQ(detector.block.integerWork[0], 0);
    }
}

TEST(FifoDeclarations, ParametersRoundHalfUpAndAShrinkingWindowDeclaresNoHistory) {
    const double half = 2.5;
    BlockHarness fifo(registerFifo, {scalar(half), scalar(7.49), scalar(1), scalar(0)}, 1, 1);
    EXPECT_EQ(fifo.block.inputPorts[0].width, 3);
    EXPECT_EQ(fifo.block.outputPorts[0].width, 7);
    EXPECT_EQ(fifo.block.discStateCount, 4);

    BlockHarness shrinking = makeFifo({16, 6, 2, false});
    EXPECT_EQ(shrinking.block.discStateCount, 0);
}

}  // namespace
}  // namespace bm7
