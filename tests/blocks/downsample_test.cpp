#include "blocks/downsample.h"

#include <gtest/gtest.h>

#include <vector>

#include "blocks/block_harness.h"
#include "blocks/naive_dft.h"
#include "blocks/upsample_hold.h"
#include "support/frames.h"

namespace bm7 {
namespace {

using blocktest::BlockHarness;
using blocktest::randomFrame;
using blocktest::row;
using blocktest::scalar;

BlockHarness makeDownsample(double frameLength, double factor, std::vector<double> phases,
                            int outputs) {
    return BlockHarness(registerDownsample,
                        {scalar(frameLength), scalar(factor), std::move(phases)}, 1, outputs);
}

std::vector<double> ramp(int length) {
    std::vector<double> values(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) values[i] = i;
    return values;
}

TEST(DownsamplePhases, EachOutputKeepsEveryDthSampleFromItsPhase) {
    BlockHarness split = makeDownsample(8192, 8, row({1, 2, 3, 4, 5, 6, 7, 8}), 8);
    split.initializeConditions();
    split.setInput(ramp(8192));
    split.outputs();
    for (int j = 0; j < 8; ++j) {
        ASSERT_EQ(split.block.outputPorts[j].width, 1024);
        for (int i = 0; i < 1024; ++i) ASSERT_EQ(split.output(j)[i], 8 * i + j);
    }
    EXPECT_EQ(split.error(), nullptr);

    BlockHarness pair = makeDownsample(16, 4, row({1, 3}), 2);
    pair.initializeConditions();
    pair.setInput(ramp(16));
    pair.outputs();
    EXPECT_EQ(pair.outputCopy(0), (std::vector<double>{0, 4, 8, 12}));
    EXPECT_EQ(pair.outputCopy(1), (std::vector<double>{2, 6, 10, 14}));
}

// Input elements that are not one run are read through their pointers, to the same values.
TEST(DownsamplePhases, InputElementsApartGiveWhatOneRunGives) {
    const std::vector<double> frame = randomFrame(64, 11);
    const ScatteredFrame scattered(frame);
    BlockHarness apart = makeDownsample(64, 8, row({1, 4, 8}), 3);
    apart.block.inputPorts[0].elementPointers = scattered.elements.data();
    apart.initializeConditions();
    apart.outputs();
    BlockHarness together = makeDownsample(64, 8, row({1, 4, 8}), 3);
    together.initializeConditions();
    together.setInput(frame);
    together.outputs();
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(apart.outputCopy(j), together.outputCopy(j)) << j;
        EXPECT_EQ(apart.outputCopy(j)[1], frame[8 + (j == 0 ? 0 : j == 1 ? 3 : 7)]) << j;
    }
}

TEST(DownsamplePhases, PhasesRoundHalfUp) {
    BlockHarness up = makeDownsample(16, 4, row({2.5}), 1);
    up.initializeConditions();
    up.setInput(ramp(16));
    up.outputs();
    EXPECT_EQ(up.outputCopy(0), (std::vector<double>{2, 6, 10, 14}));

    BlockHarness down = makeDownsample(16, 4, row({2.49}), 1);
    down.initializeConditions();
    down.setInput(ramp(16));
    down.outputs();
    EXPECT_EQ(down.outputCopy(0), (std::vector<double>{1, 5, 9, 13}));
}

TEST(DownsampleChecks, PhasesOrFactorsThatWouldReadOutsideTheFrameAreRejected) {
    BlockHarness early = makeDownsample(16, 4, row({0}), 1);
    early.initializeConditions();
    EXPECT_STREQ(early.error(), "Downsample: a phase reaches outside the input frame");

    BlockHarness late = makeDownsample(16, 4, row({1, 5}), 2);
    late.initializeConditions();
    EXPECT_STREQ(late.error(), "Downsample: a phase reaches outside the input frame");

    // A frame that is no multiple of the factor leaves room for later phases.
    BlockHarness spare = makeDownsample(18, 4, row({6}), 1);
    spare.initializeConditions();
    EXPECT_EQ(spare.error(), nullptr);

    BlockHarness zero = makeDownsample(16, 0, row({1}), 1);
    EXPECT_EQ(zero.block.outputPorts[0].width, 0);
    zero.initializeConditions();
    EXPECT_STREQ(zero.error(), "Downsample: the factor must be at least 1");
}

TEST(DownsampleMemory, AnImpossibleAllocationReportsOutOfMemory) {
    const std::vector<double> negativeColumns{1, -1};
    BlockHarness broken = makeDownsample(16, 4, negativeColumns, 0);
    EXPECT_EQ(broken.block.outputCount, -1);
    broken.initializeConditions();
    EXPECT_STREQ(broken.error(), "Out of memory");
    EXPECT_EQ(broken.block.pointerWorkCount, 0);
    broken.outputs();
}

// Splitting into phase 1 and holding it back up gives every sample the value of the
// first sample of its group, across frame boundaries alike.
TEST(DownsampleStreaming, DownThenUpHoldsTheFirstSampleOfEveryGroup) {
    const int frame = 1024, factor = 8, frames = 12;
    const std::vector<double> signal = randomFrame(frame * frames, 31u);
    BlockHarness down = makeDownsample(frame, factor, row({1}), 1);
    BlockHarness up(registerUpsampleHold, {scalar(frame / factor), scalar(factor), row({1})}, 1, 1);
    down.initializeConditions();
    up.initializeConditions();
    for (int k = 0; k < frames; ++k) {
        down.setInput(
            std::vector<double>(signal.begin() + k * frame, signal.begin() + (k + 1) * frame));
        down.outputs();
        up.setInput(down.outputCopy(0));
        up.outputs();
        for (int i = 0; i < frame; ++i) {
            const int time = k * frame + i;
            ASSERT_EQ(up.output()[i], signal[time - time % factor]) << time;
        }
    }
}

}  // namespace
}  // namespace bm7
