#include "driver/timing.h"

#include <gtest/gtest.h>

#include <vector>

#include "driver/driver_test_support.h"

namespace bm7 {
namespace {

using driver_test::kFrameStep;
using driver_test::TestRoot;

constexpr double kCheckPeriod = 1.114557823129252;
constexpr double kHourlyPeriod = 3600.021768707483;

// Runs `steps` steps as the driver does and records, for one rate, the steps in
// which it hit and the rate time each of those steps saw.
struct RateTrace {
    std::vector<int> hitSteps;
    std::vector<double> hitTimes;
};

RateTrace traceRate(TestRoot& model, TimingState& engine, int rate, int steps) {
    RateTrace trace;
    for (int step = 0; step < steps; ++step) {
        if (model.sim.sampleHits[rate]) {
            trace.hitSteps.push_back(step);
            trace.hitTimes.push_back(model.sim.taskTimes[rate]);
        }
        model.sim.nextTime = advanceTime(engine);
        updateSampleHits(model.root);
    }
    return trace;
}

TEST(TimingStart, MakesEveryRateHitAtTimeZeroAndNumbersTheTasks) {
    TestRoot model({kFrameStep, kCheckPeriod, kHourlyPeriod});
    TimingState engine;
    ASSERT_EQ(initializeTiming(model.root, engine), nullptr);

    EXPECT_EQ(model.sim.timingReady, 1);
    EXPECT_EQ(model.sim.timingEngine, &engine);
    EXPECT_EQ(model.hits, (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(model.taskTimes, (std::vector<double>{0.0, 0.0, 0.0}));
    EXPECT_EQ(model.taskIds, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(engine.ticksPerHit, (std::vector<int>{1, 3, 9690}));
    EXPECT_EQ(engine.firstDiscreteRate, 0);
}

TEST(TimingStart, RefusesANonZeroStartTimeBeforeChangingAnything) {
    TestRoot model({kFrameStep, kCheckPeriod, kHourlyPeriod});
    model.sim.startTime = 1e-300;
    TimingState engine;

    EXPECT_STREQ(initializeTiming(model.root, engine),
                 "Start time must be zero for real-time systems");
    EXPECT_EQ(model.sim.timingReady, 0);
    EXPECT_EQ(model.sim.timingEngine, nullptr);
    EXPECT_EQ(model.hits, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(model.taskIds, (std::vector<int>{0, 0, 0}));
    EXPECT_TRUE(engine.periods.empty());
}

TEST(TimingStart, RoundsAPeriodToTheNearestStepWithHalvesUpward) {
    TestRoot model({1.0, 2.5, 3.4999});
    TimingState engine;
    ASSERT_EQ(initializeTiming(model.root, engine), nullptr);
    EXPECT_EQ(engine.ticksPerHit, (std::vector<int>{1, 3, 3}));
}

TEST(TimingStart, SkipsContinuousRatesWhenRecomputingHits) {
    TestRoot model({0.0, 0.0, 1.0});
    model.sim.fixedStepSize = 0.5;
    TimingState engine;
    ASSERT_EQ(initializeTiming(model.root, engine), nullptr);
    EXPECT_EQ(engine.firstDiscreteRate, 2);
    EXPECT_EQ(engine.periods[0], 0.5);
}

TEST(TimingSteps, KeepTimeAsStepCountTimesStepWithoutDrift) {
    TestRoot model({kFrameStep, kCheckPeriod, kHourlyPeriod});
    TimingState engine;
    ASSERT_EQ(initializeTiming(model.root, engine), nullptr);
    double nextTime = 0.0;
    for (int step = 0; step < 1000000; ++step) {
        nextTime = advanceTime(engine);
        updateSampleHits(model.root);
    }
    EXPECT_EQ(nextTime, 1000000.0 * kFrameStep);
    EXPECT_EQ(model.sim.taskTimes[0], 1000000.0 * kFrameStep);
    // 1000000 = 103 x 9690 + 1930: the hourly rate last hit at hit 103.
    EXPECT_EQ(model.sim.taskTimes[2], 103.0 * kHourlyPeriod);
}

TEST(TimingSteps, RunTheCheckRateEveryThirdStepAndTheHourlyRateEvery9690) {
    TestRoot model({kFrameStep, kCheckPeriod, kHourlyPeriod});
    TimingState engine;
    ASSERT_EQ(initializeTiming(model.root, engine), nullptr);
    const RateTrace check = traceRate(model, engine, 1, 10);
    EXPECT_EQ(check.hitSteps, (std::vector<int>{0, 3, 6, 9}));
    EXPECT_EQ(check.hitTimes,
              (std::vector<double>{0.0, kCheckPeriod, 2.0 * kCheckPeriod, 3.0 * kCheckPeriod}));

    TestRoot hourlyModel({kFrameStep, kCheckPeriod, kHourlyPeriod});
    TimingState hourlyEngine;
    ASSERT_EQ(initializeTiming(hourlyModel.root, hourlyEngine), nullptr);
    const RateTrace hourly = traceRate(hourlyModel, hourlyEngine, 2, 19381);
    EXPECT_EQ(hourly.hitSteps, (std::vector<int>{0, 9690, 19380}));
    EXPECT_EQ(hourly.hitTimes, (std::vector<double>{0.0, kHourlyPeriod, 2.0 * kHourlyPeriod}));
}

TEST(TimingSteps, StartARateWithAnOffsetAfterItsOffset) {
    const double step = 0.25;
    TestRoot model({step, 3 * step}, {0.0, step});
    TimingState engine;
    ASSERT_EQ(initializeTiming(model.root, engine), nullptr);
    EXPECT_EQ(engine.tickCounters[1], 2);
    EXPECT_EQ(model.sim.sampleHits[1], 0);

    const RateTrace trace = traceRate(model, engine, 1, 8);
    EXPECT_EQ(trace.hitSteps, (std::vector<int>{1, 4, 7}));
    EXPECT_EQ(trace.hitTimes, (std::vector<double>{step, 3 * step + step, 6 * step + step}));
}

}  // namespace
}  // namespace bm7
