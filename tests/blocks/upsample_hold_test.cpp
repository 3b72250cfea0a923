#include "blocks/upsample_hold.h"

#include <gtest/gtest.h>

#include <vector>

#include "blocks/block_harness.h"
#include "blocks/naive_dft.h"

namespace bm7 {
namespace {

using blocktest::BlockHarness;
using blocktest::randomFrame;
using blocktest::row;
using blocktest::scalar;

BlockHarness makeUpsample(double frameLength, double factor, std::vector<double> phases,
                          int inputs) {
    return BlockHarness(registerUpsampleHold,
                        {scalar(frameLength), scalar(factor), std::move(phases)}, inputs, 1);
}

TEST(UpsampleHoldPhases, TheRecognizerSettingRepeatsEverySample64Times) {
    BlockHarness hold = makeUpsample(128, 64, row({1}), 1);
    EXPECT_EQ(hold.block.outputPorts[0].width, 8192);
    hold.initializeConditions();
    hold.setInput(randomFrame(128, 41u));
    hold.outputs();
    for (int i = 0; i < 8192; ++i) ASSERT_EQ(hold.output()[i], hold.input()[i / 64]) << i;
}

TEST(UpsampleHoldPhases, InputsArePlacedAtTheirPhasesAndHeldUntilTheNextOne) {
    BlockHarness two = makeUpsample(3, 4, row({1, 3}), 2);
    two.initializeConditions();
    two.setInput({1, 2, 3}, 0);
    two.setInput({-1, -2, -3}, 1);
    two.outputs();
    EXPECT_EQ(two.outputCopy(), (std::vector<double>{1, 1, -1, -1, 2, 2, -2, -2, 3, 3, -3, -3}));

    BlockHarness late = makeUpsample(3, 4, row({2}), 1);
    late.initializeConditions();
    late.setInput({1, 2, 3});
    late.outputs();
    EXPECT_EQ(late.outputCopy(), (std::vector<double>{0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3}));

    // The hold restarts at 0.0 in every call.
    late.setInput({4, 5, 6});
    late.outputs();
    EXPECT_EQ(late.output()[0], 0.0);
}

TEST(UpsampleHoldPhases, APhaseOutOfOrderLeavesItAndAllLaterInputsUnused) {
    BlockHarness hold = makeUpsample(2, 4, row({3, 2, 4}), 3);
    hold.initializeConditions();
    hold.setInput({1, 2}, 0);
    hold.setInput({-1, -2}, 1);
    hold.setInput({9, 9}, 2);
    hold.outputs();
    EXPECT_EQ(hold.outputCopy(), (std::vector<double>{0, 0, 1, 1, 1, 1, 2, 2}));
}

TEST(UpsampleHoldMemory, AnImpossibleAllocationReportsOutOfMemory) {
    const std::vector<double> negativeColumns{1, -2};
    BlockHarness broken = makeUpsample(4, 2, negativeColumns, 0);
    EXPECT_EQ(broken.block.inputCount, -2);
    broken.initializeConditions();
    EXPECT_STREQ(broken.error(), "Out of memory");
    broken.outputs();
}

}  // namespace
}  // namespace bm7
