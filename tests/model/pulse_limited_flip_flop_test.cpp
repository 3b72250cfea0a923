#include "model/pulse_limited_flip_flop.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "support/block_harness.h"
#include "support/frames.h"

namespace bm7 {
namespace {

constexpr int frameLength = 8192;
constexpr int minimum = 2205;
constexpr int maximum = 8820;

struct FlipFlopSetup {
    int frameLength;
    double minimum, maximum;
    int channels;
    bool channelMajor;
};

// Runs reset and set signals frame by frame and returns the whole output per channel.
Channels runFramed(const FlipFlopSetup& s, const Channels& reset, const Channels& set) {
    BlockHarness block(registerPulseLimitedFlipFlop,
                       {double(s.frameLength), 0, s.minimum, s.maximum, double(s.channels),
                        double(s.channelMajor)});
    block.initializeConditions();
    Channels out(s.channels);
    const int frames = static_cast<int>(reset[0].size()) / s.frameLength;
    for (int f = 0; f < frames; ++f)
        appendFrame(out,
                    block.step(frameOf(reset, f, s.frameLength, s.channelMajor),
                               frameOf(set, f, s.frameLength, s.channelMajor)),
                    s.frameLength, s.channelMajor);
    return out;
}

std::vector<double> modelRun(const std::vector<double>& reset, const std::vector<double>& set) {
    return runFramed({frameLength, minimum, maximum, 1, false}, {reset}, {set})[0];
}

std::vector<double> pulseAt(int length, int start, int size) {
    std::vector<double> pulse(size, 0.0);
    for (int i = start; i < start + length; ++i) pulse[i] = 1.0;
    return pulse;
}

TEST(FlipFlopPulses, ASetThenAResetKSamplesLaterLastsBetweenTheMinimumAndTheMaximum) {
    const int size = 4 * frameLength;
    const int start = frameLength - 100;  // every pulse spans a frame boundary
    for (int k : {1, 1000, 2204, 2205, 2206, 5000, 8819, 8820, 8821, 20000}) {
        SCOPED_TRACE(k);
        std::vector<double> set(size, 0.0), reset(size, 0.0);
        set[start] = 1.0;
        reset[start + k] = 1.0;
        const int length = std::min(std::max(k, minimum), maximum);
        EXPECT_EQ(modelRun(reset, set), pulseAt(length, start, size));
    }
}

TEST(FlipFlopPulses, ASetHeldLongerThanTheMaximumGivesMaximumPulsesApartByOneZero) {
    const int size = 4 * frameLength;
    const std::vector<double> out =
        modelRun(std::vector<double>(size, 0.0), std::vector<double>(size, 1.0));
    for (int i = 0; i < size; ++i) ASSERT_EQ(out[i], (i + 1) % (maximum + 1) == 0 ? 0.0 : 1.0) << i;
}

TEST(FlipFlopPulses, SetAndResetTogetherKeepTheStateClearButARunningPulseReachesTheMinimum) {
    const int size = 2 * frameLength;
    std::vector<double> set(size, 0.0), reset(size, 0.0);
    set[10] = reset[10] = 1.0;
    EXPECT_EQ(modelRun(reset, set), std::vector<double>(size, 0.0));
    set[10] = reset[10] = 0.0;
    set[8000] = 1.0;
    set[8100] = reset[8100] = 1.0;
    EXPECT_EQ(modelRun(reset, set), pulseAt(minimum, 8000, size));
}

TEST(FlipFlopPulses, NaNInputsAreNeitherSetNorReset) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const int size = 2 * frameLength;
    std::vector<double> set(size, 0.0), reset(size, 0.0);
    set[5] = nan;
    set[20] = 1.0;
    reset[3000] = nan;
    EXPECT_EQ(modelRun(reset, set), pulseAt(maximum, 20, size));
}

TEST(FlipFlopFrames, OutputsDoNotDependOnWhereFramesBreakInEitherLayout) {
    std::mt19937 random(2024);
    std::bernoulli_distribution setFires(0.04), resetFires(0.02);
    const int frames = 40;
    for (bool channelMajor : {false, true}) {
        Channels set(2, std::vector<double>(50 * frames)), reset = set;
        for (int k = 0; k < 2; ++k) {
            for (double& x : set[k]) x = setFires(random) ? 1.0 : 0.0;
            for (double& x : reset[k]) x = resetFires(random) ? 1.0 : 0.0;
        }
        const Channels framed = runFramed({50, 7, 30, 2, channelMajor}, reset, set);
        const Channels whole = runFramed({50 * frames, 7, 30, 2, channelMajor}, reset, set);
        EXPECT_EQ(framed, whole);
        EXPECT_NE(framed[0], framed[1]);
    }
}

// Inputs that are not one run each are read through their element pointers, to the
// outputs that runs give.
TEST(FlipFlopFrames, InputElementsApartGiveWhatRunsGive) {
    std::mt19937 random(7);
    std::bernoulli_distribution fires(0.05);
    const int length = 400;
    std::vector<double> set(length), reset(length);
    for (double& x : set) x = fires(random) ? 1.0 : 0.0;
    for (double& x : reset) x = fires(random) ? 1.0 : 0.0;
    const ScatteredFrame resetApart(reset), setApart(set);
    BlockHarness scattered(registerPulseLimitedFlipFlop, {double(length), 0, 7, 30, 1, 0});
    scattered.record().inputPorts[0].elementPointers = resetApart.elements.data();
    scattered.record().inputPorts[1].elementPointers = setApart.elements.data();
    scattered.initializeConditions();
    callOutputs(scattered.record(), 0);
    EXPECT_EQ(scattered.output(), runFramed({length, 7, 30, 1, false}, {reset}, {set})[0]);
}

TEST(FlipFlopLimits, WithoutLimitsTheOutputIsTheLatchedState) {
    const std::vector<double> set = {0, 1, 0, 0, 1, 1, 0, 0};
    const std::vector<double> reset = {0, 0, 0, 1, 0, 1, 0, 1};
    const std::vector<double> latched = {0, 1, 1, 0, 1, 0, 0, 0};
    EXPECT_EQ(runFramed({8, 0, 0, 1, false}, {reset}, {set})[0], latched);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(runFramed({8, 0, -inf, 1, false}, {reset}, {set})[0], latched);
}

TEST(FlipFlopLimits, AnInfiniteOrNaNMaximumNeverCutsAPulse) {
    for (double none :
         {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        const std::vector<double> set(64, 1.0), reset(64, 0.0);
        EXPECT_EQ(runFramed({16, 3, none, 1, false}, {reset}, {set})[0],
                  std::vector<double>(64, 1.0));
    }
}

TEST(FlipFlopLimits, ThePulseCounterStopsAtTheLargestIntegerInsteadOfOverflowing) {
    BlockHarness block(registerPulseLimitedFlipFlop, {4, 1, 3, 0, 1, 0});
    block.initializeConditions();
    block.states()[1] = INT_MAX - 2.0;
    EXPECT_EQ(block.step(std::vector<double>(4, 0.0), std::vector<double>(4, 0.0)),
              std::vector<double>(4, 1.0));
    EXPECT_EQ(block.states()[1], double(INT_MAX));
    EXPECT_EQ(block.step(std::vector<double>{1, 0, 0, 0}, std::vector<double>(4, 0.0)),
              std::vector<double>(4, 0.0));
}

TEST(FlipFlopDeclarations, TwoFeedThroughInputsAndAStartStateOfSetOrClear) {
    BlockHarness set(registerPulseLimitedFlipFlop, {8, 1, 2205, 8820, 2, 0});
    const BlockRecord& record = set.record();
    EXPECT_EQ(record.inputCount, 2);
    EXPECT_EQ(record.inputPorts[1].width, 16);
    EXPECT_EQ(record.inputPorts[1].directFeedthrough, 1);
    EXPECT_EQ(record.discStateCount, 4);
    EXPECT_EQ(record.integerWorkCount, 2);
    set.initializeConditions();
    EXPECT_EQ(set.states(), std::vector<double>(4, 1.0));
    BlockHarness clear(registerPulseLimitedFlipFlop,
                       {8, std::numeric_limits<double>::quiet_NaN(), 2205, 8820, 1, 0});
    clear.initializeConditions();
    EXPECT_EQ(clear.states(), std::vector<double>(2, 0.0));
}

}  // namespace
}  // namespace bm7
