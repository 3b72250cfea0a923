#include "driver/timing.h"

#include <cmath>

namespace bm7 {

namespace {

int stepsIn(double duration, double step) {
    return static_cast<int>(std::floor(duration / step + 0.5));
}

void setUpRate(BlockRecord& root, TimingState& engine, int rate) {
    SimInfo& sim = *root.simInfo;
    const double step = sim.fixedStepSize;
    root.sampleTimeTaskIds[rate] = rate;
    const double period = root.samplePeriods[rate];
    const double offset = root.sampleOffsets[rate];
    engine.periods[rate] = period;
    engine.offsets[rate] = offset;
    engine.ticksPerHit[rate] = stepsIn(period, step);
    if (period != 0.0 && offset != 0.0) {
        // The rate first hits once its offset has passed.
        engine.tickCounters[rate] = stepsIn(period - offset, step);
        engine.hitCounts[rate] = -1.0;
        sim.sampleHits[rate] = 0;
    } else {
        engine.tickCounters[rate] = 0;
        engine.hitCounts[rate] = 0.0;
        sim.sampleHits[rate] = 1;
    }
}

}  // namespace

const char* initializeTiming(BlockRecord& root, TimingState& engine) {
    SimInfo& sim = *root.simInfo;
    if (sim.startTime != 0.0) return kNonZeroStartTime;
    sim.timingReady = 1;
    sim.timingEngine = &engine;

    const auto rateCount = static_cast<std::size_t>(root.sampleTimeCount);
    engine.periods.assign(rateCount, 0.0);
    engine.offsets.assign(rateCount, 0.0);
    engine.hitCounts.assign(rateCount, 0.0);
    engine.tickCounters.assign(rateCount, 0);
    engine.ticksPerHit.assign(rateCount, 0);
    for (int rate = 0; rate < root.sampleTimeCount; ++rate) setUpRate(root, engine, rate);
    if (rateCount > 0) {
        engine.periods[0] = sim.fixedStepSize;
        engine.ticksPerHit[0] = 1;
    }

    // Continuous rates (period 0) come first and are not counted in steps.
    engine.firstDiscreteRate = 0;
    for (int rate = 0; rate < root.sampleTimeCount && rate < 2; ++rate) {
        if (root.samplePeriods[rate] == 0.0) ++engine.firstDiscreteRate;
    }
    return nullptr;
}

double advanceTime(TimingState& engine) {
    engine.hitCounts[0] += 1.0;
    const double nextTime = engine.periods[0] * engine.hitCounts[0];
    const int rateCount = static_cast<int>(engine.tickCounters.size());
    // The base rate's counter stays 0: it hits in every step.
    for (int rate = 1; rate < rateCount; ++rate) {
        if (++engine.tickCounters[rate] == engine.ticksPerHit[rate]) {
            engine.tickCounters[rate] = 0;
            engine.hitCounts[rate] += 1.0;
        }
    }
    return nextTime;
}

void updateSampleHits(BlockRecord& root) {
    SimInfo& sim = *root.simInfo;
    const TimingState& engine = *sim.timingEngine;
    const int rateCount = static_cast<int>(engine.tickCounters.size());
    for (int rate = engine.firstDiscreteRate; rate < rateCount; ++rate) {
        const int hit = engine.tickCounters[rate] == 0 ? 1 : 0;
        if (hit) {
            sim.taskTimes[rate] =
                engine.hitCounts[rate] * engine.periods[rate] + engine.offsets[rate];
        }
        sim.sampleHits[rate] = hit;
    }
}

}  // namespace bm7
