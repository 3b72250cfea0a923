#include "model/delay.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "support/block_harness.h"
#include "support/frames.h"

namespace bm7 {
namespace {

struct DelaySetup {
    int frameLength, delay, channels;
    bool channelMajor;
};

void PrintTo(const DelaySetup& s, std::ostream* os) {
    *os << "F=" << s.frameLength << " D=" << s.delay << " channels=" << s.channels
        << (s.channelMajor ? " channel-major" : " interleaved");
}

Channels runFramed(const DelaySetup& s, const Channels& signal, int frames) {
    BlockHarness block(registerDelay, {double(s.frameLength), double(s.delay), double(s.channels),
                                       double(s.channelMajor)});
    block.initializeConditions();
    Channels out(s.channels);
    for (int f = 0; f < frames; ++f)
        appendFrame(out, block.step(frameOf(signal, f, s.frameLength, s.channelMajor)),
                    s.frameLength, s.channelMajor);
    return out;
}

class DelayStreaming : public ::testing::TestWithParam<DelaySetup> {};

TEST_P(DelayStreaming, FramedRunEqualsTheWholeSignalShiftedByTheDelay) {
    const DelaySetup s = GetParam();
    const int frames = 3 * s.delay / s.frameLength + 6;
    const Channels signal = randomChannels(s.channels, frames * s.frameLength, 7);
    const Channels out = runFramed(s, signal, frames);
    for (int k = 0; k < s.channels; ++k) {
        for (std::size_t n = 0; n < signal[k].size(); ++n) {
            const double expected = n < std::size_t(s.delay) ? 0.0 : signal[k][n - s.delay];
            ASSERT_EQ(out[k][n], expected) << "channel " << k << " sample " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    DelayShorterEqualLongerThanFrame, DelayStreaming,
    ::testing::Values(DelaySetup{64, 1, 1, true}, DelaySetup{64, 21, 2, false},
                      DelaySetup{64, 21, 2, true}, DelaySetup{64, 64, 2, false},
                      DelaySetup{64, 64, 1, true}, DelaySetup{64, 150, 2, true},
                      DelaySetup{64, 150, 3, false}, DelaySetup{8192, 10000, 1, true},
                      DelaySetup{8192, 15000, 1, false}, DelaySetup{16, 0, 2, false}));

TEST(DelayHistory, ALongDelayAdvancesThePositionByTheFrameLengthModuloTheDelay) {
    BlockHarness block(registerDelay, {8192, 10000, 1, 1});
    block.initializeConditions();
    std::vector<int> positions;
    for (int f = 0; f < 3; ++f) {
        block.step(std::vector<double>(8192, 1.0));
        positions.push_back(block.integerWork()[0]);
    }
    EXPECT_EQ(positions, (std::vector<int>{8192, 6384, 4576}));
}

TEST(DelayDeclarations, TheInputFeedsThroughOnlyWhenTheDelayIsShorterThanAFrame) {
    BlockHarness shortDelay(registerDelay, {8192, 441, 2, 0});
    EXPECT_EQ(shortDelay.record().inputPorts[0].directFeedthrough, 1);
    EXPECT_EQ(shortDelay.record().discStateCount, 882);
    EXPECT_EQ(shortDelay.record().outputPorts[0].width, 16384);
    BlockHarness frameDelay(registerDelay, {8192, 8192, 1, 0});
    EXPECT_EQ(frameDelay.record().inputPorts[0].directFeedthrough, 0);

    BlockHarness negative(registerDelay, {8, -2, 1, 0});
    negative.initializeConditions();
    EXPECT_NE(negative.error(), nullptr);
    EXPECT_EQ(negative.step(std::vector<double>(8, 1.0)), std::vector<double>(8, 0.0));
}

}  // namespace
}  // namespace bm7
