#include "blocks/zero_pad.h"

#include <gtest/gtest.h>

#include <vector>

#include "blocks/block_harness.h"
#include "blocks/naive_dft.h"

namespace bm7 {
namespace {

using blocktest::BlockHarness;
using blocktest::column;
using blocktest::randomFrame;
using blocktest::scalar;

const double kUnwritten = 99.0;

// Pads a random frame of `frameWidth` samples into an output of `outputWidth` elements.
struct Padded {
    Padded(std::vector<double> param, int frameWidth, int outputWidth)
        : harness(registerZeroPad, {std::move(param)}, frameWidth, outputWidth, true),
          frame(randomFrame(static_cast<std::size_t>(frameWidth), 21u)) {
        harness.initializeConditions();
        harness.setInput(frame);
        harness.outputVector().assign(static_cast<std::size_t>(outputWidth), kUnwritten);
        harness.outputs();
    }
    int length() const { return harness.block.integerWork[0]; }
    BlockHarness harness;
    std::vector<double> frame;
};

TEST(ZeroPadLength, TheRecognizerSettingPadsTheFrameWithZeros) {
    Padded padded(column({512, 1}), 128, 512);
    EXPECT_EQ(padded.length(), 512);
    const std::vector<double>& out = padded.harness.outputVector();
    for (int i = 0; i < 128; ++i) EXPECT_EQ(out[i], padded.frame[i]);
    for (int i = 128; i < 512; ++i) EXPECT_EQ(out[i], 0.0);
    EXPECT_EQ(padded.harness.error(), nullptr);
}

TEST(ZeroPadLength, OneElementCutsAZeroFlagOnlyPadsAndMinusOnePassesTheFrame) {
    Padded cut(scalar(64), 128, 128);
    EXPECT_EQ(cut.length(), 64);
    EXPECT_EQ(cut.harness.outputVector()[63], cut.frame[63]);
    EXPECT_EQ(cut.harness.outputVector()[64], kUnwritten);

    Padded kept(column({64, 0}), 128, 128);
    EXPECT_EQ(kept.length(), 128);
    EXPECT_EQ(kept.harness.outputVector(), kept.frame);

    Padded padOnly(column({200, 0}), 128, 256);
    EXPECT_EQ(padOnly.length(), 200);

    Padded unchanged(scalar(-1), 128, 128);
    EXPECT_EQ(unchanged.length(), 128);
    EXPECT_EQ(unchanged.harness.outputVector(), unchanged.frame);
}

TEST(ZeroPadLength, TheLengthIsTruncatedNotRounded) {
    Padded padded(scalar(511.9), 128, 512);
    EXPECT_EQ(padded.length(), 511);
    EXPECT_EQ(padded.harness.outputVector()[510], 0.0);
    EXPECT_EQ(padded.harness.outputVector()[511], kUnwritten);
}

TEST(ZeroPadLength, AnOutputTooNarrowForTheLengthIsRejectedAndNeverOverrun) {
    Padded padded(column({512, 1}), 128, 256);
    EXPECT_STREQ(padded.harness.error(), "Zero Pad: the output is narrower than the padded length");
    EXPECT_EQ(padded.length(), 256);
}

TEST(ZeroPadDeclarations, WidthsAreLeftToTheRegistration) {
    BlockRecord declared;
    registerZeroPad(&declared);
    declared.methods.initializeSizes(&declared);
    EXPECT_EQ(declared.inputCount, -1);
    EXPECT_EQ(declared.outputCount, -1);
}

}  // namespace
}  // namespace bm7
