#include "blocks/deinterleave.h"

#include <gtest/gtest.h>

#include <vector>

#include "blocks/block_harness.h"
#include "blocks/naive_dft.h"

namespace bm7 {
namespace {

using blocktest::BlockHarness;
using blocktest::scalar;

TEST(Deinterleave, OneChannelPassesTheFrameUnchanged) {
    BlockHarness block(registerDeinterleave, {scalar(1), scalar(8192)}, 1, 1);
    EXPECT_EQ(block.block.inputPorts[0].width, 8192);
    block.setInput(blocktest::randomFrame(8192, 51u));
    block.outputs();
    EXPECT_EQ(block.outputCopy(), block.input());
}

// The same order whether the elements are read through their pointers or, once noted,
// from their run.
TEST(Deinterleave, ChannelsAreGatheredOneAfterTheOther) {
    for (bool noteRun : {false, true}) {
        BlockHarness block(registerDeinterleave, {scalar(2), scalar(3)}, 1, 1);
        block.setInput({10, 20, 11, 21, 12, 22});
        if (noteRun) findInputRuns(block.block);
        EXPECT_EQ(block.block.inputPorts[0].run != nullptr, noteRun);
        block.outputs();
        EXPECT_EQ(block.outputCopy(), (std::vector<double>{10, 11, 12, 20, 21, 22})) << noteRun;
    }
}

}  // namespace
}  // namespace bm7
