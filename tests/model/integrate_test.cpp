#include "model/integrate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

#include "support/block_harness.h"
#include "support/frames.h"

namespace bm7 {
namespace {

struct WindowSetup {
    int frameLength, windowLength, channels;
    bool channelMajor;
    double initialSum;
    bool mean;
};

void PrintTo(const WindowSetup& s, std::ostream* os) {
    *os << "F=" << s.frameLength << " N=" << s.windowLength << " channels=" << s.channels
        << (s.channelMajor ? " channel-major" : " interleaved") << " initial=" << s.initialSum
        << (s.mean ? " mean" : " sum");
}

// Feeds `signal` frame by frame and returns the outputs as whole per-channel signals.
Channels runFramed(const WindowSetup& s, const Channels& signal, int frames) {
    BlockHarness block(registerIntegrate,
                       {double(s.frameLength), s.initialSum, double(s.windowLength), double(s.mean),
                        double(s.channels), double(s.channelMajor)});
    block.initializeConditions();
    Channels out(s.channels);
    for (int f = 0; f < frames; ++f)
        appendFrame(out, block.step(frameOf(signal, f, s.frameLength, s.channelMajor)),
                    s.frameLength, s.channelMajor);
    return out;
}

class IntegrateStreaming : public ::testing::TestWithParam<WindowSetup> {};

TEST_P(IntegrateStreaming, FramedRunEqualsTheRunningSumOverTheWholeSignal) {
    const WindowSetup s = GetParam();
    const int frames = 2 * s.windowLength / s.frameLength + 7;
    const Channels signal = randomChannels(s.channels, frames * s.frameLength, 99, 0.0, 4.0);
    const Channels out = runFramed(s, signal, frames);
    const double scale = s.mean ? 1.0 / s.windowLength : 1.0;
    for (int k = 0; k < s.channels; ++k) {
        const std::vector<double>& u = signal[k];
        double sum = s.initialSum;
        for (std::size_t n = 0; n < u.size(); ++n) {
            // Same operations in the same order: bit-identical.
            sum = (u[n] + sum) - (n >= std::size_t(s.windowLength) ? u[n - s.windowLength] : 0.0);
            ASSERT_EQ(out[k][n], scale * sum) << "channel " << k << " sample " << n;
            // And it is the windowed sum, to rounding.
            double direct = 0.0;
            for (std::size_t m = n + 1 - std::min<std::size_t>(n + 1, s.windowLength); m <= n; ++m)
                direct += u[m];
            ASSERT_NEAR(out[k][n], scale * (s.initialSum + direct), 1e-9);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FrameShorterEqualLongerThanWindow, IntegrateStreaming,
                         ::testing::Values(WindowSetup{128, 310, 1, false, 0.0, true},
                                           WindowSetup{64, 64, 2, true, 0.0, true},
                                           WindowSetup{64, 64, 2, false, 0.0, false},
                                           WindowSetup{100, 37, 2, true, 0.0, true},
                                           WindowSetup{100, 37, 2, false, 2.5, false},
                                           WindowSetup{16, 50, 3, true, -1.25, true},
                                           WindowSetup{16, 50, 3, false, 3.5, true}));

// Two blocks stepped together against the same two stepped alone: every output, the
// carried sums and the history positions must match bit for bit.
struct PairSetup {
    int frameLength;
    int firstWindow, secondWindow;
    int secondFrameLength;
    int channels;
};

void expectTogetherEqualsAlone(const PairSetup& p) {
    const auto make = [&](int frameLength, int window, double initial) {
        auto block = std::make_unique<BlockHarness>(
            registerIntegrate, std::vector<double>{double(frameLength), initial, double(window), 1,
                                                   double(p.channels), 0});
        block->initializeConditions();
        return block;
    };
    auto firstTogether = make(p.frameLength, p.firstWindow, 0.5);
    auto secondTogether = make(p.secondFrameLength, p.secondWindow, 0.0);
    auto firstAlone = make(p.frameLength, p.firstWindow, 0.5);
    auto secondAlone = make(p.secondFrameLength, p.secondWindow, 0.0);
    const int frames = 2 * std::max(p.firstWindow, p.secondWindow) / p.frameLength + 5;
    const Channels first = randomChannels(1, frames * p.frameLength * p.channels, 5, 0.0, 3.0);
    const Channels second =
        randomChannels(1, frames * p.secondFrameLength * p.channels, 6, 0.0, 1e-3);
    for (int f = 0; f < frames; ++f) {
        const std::vector<double> a = frameOf(first, f, p.frameLength * p.channels, true);
        const std::vector<double> b = frameOf(second, f, p.secondFrameLength * p.channels, true);
        firstTogether->setInput(0, a);
        secondTogether->setInput(0, b);
        double firstSum = -1.0;
        integrateOutputsTogether(firstTogether->record(), secondTogether->record(), &firstSum);
        callUpdate(firstTogether->record(), 0);
        callUpdate(secondTogether->record(), 0);
        firstAlone->step(a);
        secondAlone->step(b);
        ASSERT_EQ(firstTogether->output(), firstAlone->output()) << "frame " << f;
        // The first's outputs summed left to right, exactly.
        const std::vector<double>& out = firstAlone->output();
        double sum = out[0];
        for (std::size_t i = 1; i < out.size(); ++i) sum += out[i];
        ASSERT_EQ(std::memcmp(&firstSum, &sum, sizeof sum), 0) << "frame " << f;
        ASSERT_EQ(secondTogether->output(), secondAlone->output()) << "frame " << f;
        ASSERT_EQ(firstTogether->states(), firstAlone->states()) << "frame " << f;
        ASSERT_EQ(secondTogether->states(), secondAlone->states()) << "frame " << f;
        ASSERT_EQ(firstTogether->integerWork(), firstAlone->integerWork());
        ASSERT_EQ(secondTogether->integerWork(), secondAlone->integerWork());
    }
}

TEST(IntegrateTogether, TwoChainsSteppedSideBySideGiveExactlyTheirOwnOutputs) {
    expectTogetherEqualsAlone({8192, 1103, 100, 8192, 1});  // the model's two chains
    expectTogetherEqualsAlone({64, 100, 1103, 64, 1});      // windows longer than the frame
    expectTogetherEqualsAlone({128, 1, 310, 128, 1});
}

TEST(IntegrateTogether, BlocksThatCannotGoTogetherStillGiveTheirOwnOutputs) {
    expectTogetherEqualsAlone({64, 100, 30, 32, 1});  // different frame lengths
    expectTogetherEqualsAlone({16, 50, 20, 16, 3});   // several channels
}

TEST(IntegrateWindow, AWindowOfOneSampleGivesTheInput) {
    const Channels signal = {{3, -7, 12, 0, 5, 1, 1, 4, -2}};
    const Channels out = runFramed({3, 1, 1, false, 0.0, true}, signal, 3);
    EXPECT_EQ(out, signal);
}

TEST(IntegrateWindow, TheHistoryPositionAdvancesByTheFrameLengthModuloTheWindow) {
    BlockHarness block(registerIntegrate, {128, 0, 310, 1, 1, 0});
    block.initializeConditions();
    std::vector<int> positions;
    for (int f = 0; f < 5; ++f) {
        block.step(std::vector<double>(128, 1.0));
        positions.push_back(block.integerWork()[0]);
    }
    EXPECT_EQ(positions, (std::vector<int>{128, 256, 74, 202, 20}));
}

TEST(IntegrateDeclarations, SizesFollowTheParametersAndBadWindowsAreRefused) {
    BlockHarness block(registerIntegrate, {8, 0, 5, 1, 3, 0});
    const BlockRecord& record = block.record();
    EXPECT_EQ(record.discStateCount, 18);
    EXPECT_EQ(record.realWorkCount, 3);
    EXPECT_EQ(record.integerWorkCount, 1);
    EXPECT_EQ(record.inputPorts[0].width, 24);
    EXPECT_EQ(record.inputPorts[0].directFeedthrough, 1);
    EXPECT_EQ(record.samplePeriods[0], -1.0);
    EXPECT_EQ(record.sampleOffsets[0], 1.0);

    BlockHarness empty(registerIntegrate, {8, 0, 0.4, 1, 1, 0});
    empty.initializeConditions();
    EXPECT_NE(empty.error(), nullptr);
    EXPECT_EQ(empty.step(std::vector<double>(8, 1.0)), std::vector<double>(8, 0.0));
}

}  // namespace
}  // namespace bm7
