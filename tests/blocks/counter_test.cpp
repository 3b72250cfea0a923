#include "blocks/counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "support/block_harness.h"
#include "support/frames.h"

namespace bm7 {
namespace {

constexpr double framePeriod = 0.3715192743764172;

struct Switches {
    bool hasStep, hasReset, hasLoad, countsDown, stopsAtLimit, channelMajor;
};

Switches switchesOf(int config) {
    return {(config & 1) != 0, (config & 2) != 0,  (config & 4) != 0,
            (config & 8) != 0, (config & 16) != 0, (config & 32) != 0};
}

bool on(double x) {
    return x != 0.0 && !std::isnan(x);
}

// The per-sample rule written out plainly, sample outer and channel inner.
struct ReferenceCounter {
    Switches sw;
    double loadValue, limit;
    int frameLength, channels;
    std::vector<double> counts;

    std::vector<double> frame(const std::vector<double>& step, const std::vector<double>& reset,
                              const std::vector<double>& load) {
        std::vector<double> out(step.size());
        for (int i = 0; i < frameLength; ++i) {
            for (int c = 0; c < channels; ++c) {
                const int e = sw.channelMajor ? c * frameLength + i : i * channels + c;
                double& count = counts[c];
                bool allowed = true;
                if (sw.stopsAtLimit) {
                    allowed = sw.countsDown ? count > limit * 1.000000000001 + 1e-12
                                            : count < limit * 0.999999999999 - 1e-12;
                }
                if (sw.hasReset && on(reset[e])) {
                    count = 0.0;
                } else if (sw.hasLoad && on(load[e])) {
                    count = loadValue;
                } else if (allowed) {
                    const double s = sw.hasStep ? step[e] : 1.0;
                    count = sw.countsDown ? count - s : count + s;
                }
                out[e] = count;
            }
        }
        return out;
    }
};

std::vector<double> sparse(std::mt19937& random, int size, double chance) {
    std::bernoulli_distribution fires(chance);
    std::uniform_int_distribution<int> kind(0, 9);
    std::vector<double> signal(size, 0.0);
    for (double& x : signal) {
        if (!fires(random)) continue;
        const int k = kind(random);
        x = k == 0 ? std::numeric_limits<double>::quiet_NaN() : k == 1 ? -2.0 : 1.0;
    }
    return signal;
}

// Bit for bit, so that NaN counts and the sign of a zero count are compared too.
bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Inputs read through their element pointers, as when they are not one run, and
// contiguously, give the same counts; so do whole and fractional counts.
TEST(CounterRule, EveryConfigurationMatchesThePerSampleRuleAcrossFrames) {
    constexpr int frameLength = 37;
    constexpr int channels = 2;
    for (const int variant : {0, 1, 2}) {
        const bool apart = variant == 1;
        const double start = variant == 2 ? 1.0 : 1.5;
        const double loadValue = variant == 2 ? 12.0 : 12.5;  // beyond the upward limit
        std::mt19937 random(4711);
        std::uniform_real_distribution<double> stepValue(-0.5, 2.0);
        for (int config = 0; config < 64; ++config) {
            SCOPED_TRACE(testing::Message() << "config " << config << ", variant " << variant);
            const Switches sw = switchesOf(config);
            const double limit = sw.countsDown ? -3.0 : 9.0;
            BlockHarness counter(
                registerCounter,
                {frameLength, double(sw.hasStep), double(sw.hasReset), double(sw.hasLoad),
                 double(sw.countsDown), loadValue, double(sw.stopsAtLimit), limit, start, channels,
                 double(sw.channelMajor), framePeriod});
            ReferenceCounter reference{sw, loadValue, limit, frameLength, channels, {start, start}};
            const std::vector<double> zeros(frameLength * channels, 0.0);
            std::vector<std::unique_ptr<ScatteredFrame>> scattered;
            for (int port = 0; port < counter.record().inputCount && apart; ++port) {
                scattered.push_back(std::make_unique<ScatteredFrame>(zeros));
                counter.record().inputPorts[port].elementPointers =
                    scattered.back()->elements.data();
            }
            counter.initializeConditions();
            for (int frame = 0; frame < 6; ++frame) {
                std::vector<double> step(frameLength * channels);
                for (double& x : step) x = stepValue(random);
                const std::vector<double> reset = sparse(random, frameLength * channels, 0.03);
                const std::vector<double> load = sparse(random, frameLength * channels, 0.05);
                const std::vector<double> expected = reference.frame(step, reset, load);
                std::vector<const std::vector<double>*> inputs;
                if (sw.hasStep) inputs.push_back(&step);
                if (sw.hasReset) inputs.push_back(&reset);
                if (sw.hasLoad) inputs.push_back(&load);
                for (std::size_t port = 0; port < inputs.size(); ++port) {
                    if (apart) {
                        scattered[port]->assign(*inputs[port]);
                    } else {
                        counter.setInput(static_cast<int>(port), *inputs[port]);
                    }
                }
                callOutputs(counter.record(), 0);
                callUpdate(counter.record(), 0);
                ASSERT_TRUE(sameBits(counter.output(), expected)) << "frame " << frame;
                EXPECT_TRUE(sameBits(counter.states(), reference.counts));
            }
        }
    }
}

// A counter with neither inputs nor limit steps by one from wherever it starts: near
// 2^53, where a step of one is no longer exact, from fractions and across zero, from
// NaN and infinity.
TEST(CounterRule, CountsByOneMatchTheRuleFromAnyStart) {
    constexpr int frameLength = 16;
    const double big = 9007199254740992.0;  // 2^53
    for (const double start :
         {-3.0, -0.0, 0.0, -16.0, 0.5, -7.25, big / 2 - 20, big / 2 - 3, big - 20, big,
          -big / 2 + 3, 1e300, HUGE_VAL, std::numeric_limits<double>::quiet_NaN()}) {
        for (const bool down : {false, true}) {
            SCOPED_TRACE(testing::Message() << start << (down ? " down" : " up"));
            const Switches sw{false, false, false, down, false, true};
            BlockHarness counter(registerCounter, {frameLength, 0, 0, 0, double(down), 0, 0, 0,
                                                   start, 1, 1, framePeriod});
            ReferenceCounter reference{sw, 0.0, 0.0, frameLength, 1, {start}};
            counter.initializeConditions();
            const std::vector<double> none(frameLength, 0.0);
            for (int frame = 0; frame < 3; ++frame) {
                ASSERT_TRUE(sameBits(counter.step(), reference.frame(none, none, none)));
            }
        }
    }
}

TEST(CounterRule, ResetBeatsLoadAndBothBypassTheLimit) {
    BlockHarness counter(registerCounter, {4, 0, 1, 1, 0, 50, 1, 5, 0, 1, 0, framePeriod});
    counter.initializeConditions();
    EXPECT_EQ(counter.step(std::vector<double>{0, 1, 0, 0}, std::vector<double>{1, 1, 0, 1}),
              (std::vector<double>{50, 0, 1, 50}));
}

TEST(CounterRule, LimitsStopCountingUpAndDown) {
    BlockHarness up(registerCounter, {8, 0, 0, 0, 0, 0, 1, 5, 0, 1, 0, framePeriod});
    up.initializeConditions();
    EXPECT_EQ(up.step(), (std::vector<double>{1, 2, 3, 4, 5, 5, 5, 5}));
    BlockHarness down(registerCounter, {5, 0, 0, 0, 1, 0, 1, 0, 3, 1, 0, framePeriod});
    down.initializeConditions();
    EXPECT_EQ(down.step(), (std::vector<double>{2, 1, 0, 0, 0}));
}

TEST(CounterRule, AStepInputOfOneHalfAdvancesByOneHalf) {
    BlockHarness counter(registerCounter, {4, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, framePeriod});
    counter.initializeConditions();
    const std::vector<double> halves(4, 0.5);
    EXPECT_EQ(counter.step(halves), (std::vector<double>{0.5, 1, 1.5, 2}));
    EXPECT_EQ(counter.step(halves), (std::vector<double>{2.5, 3, 3.5, 4}));
}

TEST(CounterLayout, TwoChannelsFollowTheLayoutFlag) {
    // Channel 1 is loaded with 100 at its first sample; channel 0 only counts.
    BlockHarness major(registerCounter, {3, 0, 0, 1, 0, 100, 0, 0, 0, 2, 1, framePeriod});
    major.initializeConditions();
    EXPECT_EQ(major.step(std::vector<double>{0, 0, 0, 1, 0, 0}),
              (std::vector<double>{1, 2, 3, 100, 101, 102}));
    BlockHarness interleaved(registerCounter, {3, 0, 0, 1, 0, 100, 0, 0, 0, 2, 0, framePeriod});
    interleaved.initializeConditions();
    EXPECT_EQ(interleaved.step(std::vector<double>{0, 1, 0, 0, 0, 0}),
              (std::vector<double>{1, 100, 2, 101, 3, 102}));
}

TEST(CounterModelInstances, TheSampleClockCountsOnFrom463050) {
    BlockHarness clock(registerCounter, {8192, 0, 0, 0, 0, 0, 0, 0, 463050, 1, 1, framePeriod});
    clock.initializeConditions();
    const std::vector<double>& out = clock.step();
    for (int i = 0; i < 8192; ++i) ASSERT_EQ(out[i], 463051.0 + i);
    EXPECT_EQ(clock.states()[0], 471242.0);
    EXPECT_EQ(clock.step()[0], 471243.0);
}

TEST(CounterModelInstances, TheHoldOffCountStopsNearMinusSixTenths) {
    BlockHarness holdOff(registerCounter, {8192, 0, 0, 0, 1, 0, 1, 0, 9830.4, 1, 1, framePeriod});
    holdOff.initializeConditions();
    std::vector<double> run;
    for (int frame = 0; frame < 3; ++frame) {
        const std::vector<double>& out = holdOff.step();
        run.insert(run.end(), out.begin(), out.end());
    }
    double expected = 9830.4;
    for (int i = 0; i < 9831; ++i) expected -= 1.0;
    EXPECT_NEAR(run[9829], 0.4, 1e-9);
    EXPECT_EQ(run[9830], expected);
    EXPECT_NEAR(expected, -0.6, 1e-9);
    for (std::size_t i = 9830; i < run.size(); ++i) ASSERT_EQ(run[i], expected);
}

TEST(CounterModelInstances, ThePulseExtenderRestartsAt10001OnEveryLoad) {
    BlockHarness extender(registerCounter, {8192, 0, 0, 1, 1, 10001, 1, 0, 0, 1, 0, -1});
    extender.initializeConditions();
    EXPECT_EQ(extender.record().samplePeriods[0], -1.0);
    std::vector<double> load(8192, 0.0);
    load[100] = 1.0;
    load[5000] = 1.0;  // mid-count
    std::vector<double> run;
    for (int frame = 0; frame < 3; ++frame) {
        const std::vector<double>& out = extender.step(load);
        run.insert(run.end(), out.begin(), out.end());
        load.assign(8192, 0.0);
    }
    for (int i = 0; i < 100; ++i) ASSERT_EQ(run[i], 0.0);
    for (int i = 100; i < 5000; ++i) ASSERT_EQ(run[i], 10001.0 - (i - 100));
    for (int i = 5000; i <= 15001; ++i) ASSERT_EQ(run[i], 10001.0 - (i - 5000));
    for (std::size_t i = 15001; i < run.size(); ++i) ASSERT_EQ(run[i], 0.0);
}

TEST(CounterDeclarations, InputPortsFollowTheSwitchesInStepResetLoadOrder) {
    BlockHarness counter(registerCounter, {16, 0, 1, 1, 0, 0, 0, 0, 0, 3, 0, 0.25});
    const BlockRecord& record = counter.record();
    EXPECT_EQ(record.paramCountExpected, 12);
    EXPECT_EQ(record.inputCount, 2);
    EXPECT_EQ(record.inputPorts[1].width, 48);
    EXPECT_EQ(record.inputPorts[1].directFeedthrough, 1);
    EXPECT_EQ(record.outputPorts[0].width, 48);
    EXPECT_EQ(record.discStateCount, 3);
    EXPECT_EQ(record.realWorkCount, 3);
    EXPECT_EQ(record.samplePeriods[0], 0.25);
    EXPECT_EQ(record.sampleOffsets[0], 0.0);
    EXPECT_FALSE(record.methods.start);
    EXPECT_EQ(record.methods.terminate, &emptyMethod);
}

}  // namespace
}  // namespace bm7
