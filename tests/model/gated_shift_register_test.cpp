#include "model/gated_shift_register.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "support/block_harness.h"
#include "support/frames.h"

namespace bm7 {
namespace {

struct RegisterSetup {
    int frameLength, length, channels;
    bool channelMajor;
};

Channels runFramed(const RegisterSetup& s, const Channels& data, const std::vector<double>& gate) {
    BlockHarness block(registerGatedShiftRegister, {double(s.frameLength), double(s.length),
                                                    double(s.channels), double(s.channelMajor)});
    block.initializeConditions();
    Channels out(s.channels);
    const int frames = static_cast<int>(gate.size()) / s.frameLength;
    for (int f = 0; f < frames; ++f) {
        const std::vector<double> gateFrame(gate.begin() + f * s.frameLength,
                                            gate.begin() + (f + 1) * s.frameLength);
        appendFrame(out, block.step(frameOf(data, f, s.frameLength, s.channelMajor), gateFrame),
                    s.frameLength, s.channelMajor);
    }
    return out;
}

// At every sample, the data captured at the L-th most recent gate so far, else 0.0.
Channels capturedAtLthGate(const Channels& data, const std::vector<double>& gate, int length) {
    Channels out(data.size());
    std::vector<std::size_t> gates;
    for (std::size_t n = 0; n < gate.size(); ++n) {
        if (gate[n] != 0.0 && gate[n] == gate[n]) gates.push_back(n);
        for (std::size_t k = 0; k < data.size(); ++k)
            out[k].push_back(
                gates.size() >= std::size_t(length) ? data[k][gates[gates.size() - length]] : 0.0);
    }
    return out;
}

TEST(ShiftRegister, ALengthOfOneHoldsTheValueAtTheMostRecentGate) {
    const Channels data = {{1, 2, 3, 4, 5, 6}};
    EXPECT_EQ(runFramed({3, 1, 1, true}, data, {0, 1, 0, 0, 1, 1})[0],
              (std::vector<double>{0, 2, 2, 2, 5, 6}));
}

TEST(ShiftRegister, TheTwentyFifthGateBringsOutTheValueOfTheFirst) {
    std::vector<double> gate(8192, 0.0);
    Channels clock = {std::vector<double>(8192)};
    for (int i = 0; i < 8192; ++i) clock[0][i] = 463051.0 + i;
    for (int g = 0; g < 26; ++g) gate[100 + 300 * g] = 1.0;
    const std::vector<double> out = runFramed({8192, 25, 1, true}, clock, gate)[0];
    for (int i = 0; i < 100 + 300 * 24; ++i) ASSERT_EQ(out[i], 0.0) << i;
    EXPECT_EQ(out[100 + 300 * 24], clock[0][100]);
    EXPECT_EQ(out[100 + 300 * 25 - 1], clock[0][100]);
    EXPECT_EQ(out[100 + 300 * 25], clock[0][400]);
}

TEST(ShiftRegister, AGateOnEverySampleDelaysByOneLessThanTheLength) {
    const Channels data = randomChannels(2, 40 * 16, 5);
    const Channels out = runFramed({16, 25, 2, false}, data, std::vector<double>(40 * 16, 1.0));
    for (int k = 0; k < 2; ++k)
        for (std::size_t n = 0; n < data[k].size(); ++n)
            ASSERT_EQ(out[k][n], n < 24 ? 0.0 : data[k][n - 24]);
}

TEST(ShiftRegister, RandomGatesAcrossFramesMatchTheGateHistoryInEitherLayout) {
    std::mt19937 random(77);
    std::bernoulli_distribution fires(0.1);
    const int size = 30 * 32;
    std::vector<double> gate(size);
    for (double& g : gate) g = fires(random) ? 1.0 : 0.0;
    gate[17] = std::numeric_limits<double>::quiet_NaN();
    gate[18] = -3.0;
    const Channels data = randomChannels(3, size, 8);
    for (bool channelMajor : {false, true})
        EXPECT_EQ(runFramed({32, 5, 3, channelMajor}, data, gate),
                  capturedAtLthGate(data, gate, 5));
    // One channel, as the model has it, with gates at frame edges and several in a row.
    const Channels single = randomChannels(1, size, 9);
    gate[0] = gate[31] = gate[32] = gate[33] = gate[size - 1] = 1.0;
    for (int length : {1, 2, 5, 25})
        EXPECT_EQ(runFramed({32, length, 1, true}, single, gate),
                  capturedAtLthGate(single, gate, length))
            << length;
}

TEST(ShiftRegister, HasNoUpdateAndRefusesAnEmptyRegister) {
    BlockHarness block(registerGatedShiftRegister, {8192, 25, 1, 1});
    const BlockRecord& record = block.record();
    EXPECT_EQ(record.methods.update, nullptr);
    EXPECT_EQ(record.inputPorts[1].width, 8192);
    EXPECT_EQ(record.inputPorts[1].directFeedthrough, 0);
    EXPECT_EQ(record.discStateCount, 25);

    BlockHarness empty(registerGatedShiftRegister, {4, 0, 1, 1});
    empty.initializeConditions();
    EXPECT_NE(empty.error(), nullptr);
    EXPECT_EQ(empty.step(std::vector<double>(4, 1.0), std::vector<double>(4, 1.0)),
              std::vector<double>(4, 0.0));
}

}  // namespace
}  // namespace bm7
