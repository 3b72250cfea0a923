// The timing engine: turns the root's sample times into the per-step rate hits
// (SimInfo.sampleHits) and rate times (SimInfo.taskTimes). Time is a count of steps
// multiplied by the step size, never a running sum, so runs of days do not drift.
// Called only from the driver's thread, between model calls.
#pragma once

#include <vector>

#include "driver/block.h"

namespace bm7 {

// One per run, owned by the driver and reached through SimInfo.timingEngine. The
// arrays have one entry per root sample time.
struct TimingState {
    std::vector<double> periods;  // entry 0 is SimInfo.fixedStepSize
    std::vector<double> offsets;
    std::vector<double> hitCounts;  // entry 0 counts base steps
    std::vector<int> tickCounters;  // base steps since the rate's last hit; 0 = hits
    std::vector<int> ticksPerHit;
    int firstDiscreteRate = 0;  // rates before it are not recomputed each step
};

inline constexpr const char* kNonZeroStartTime = "Start time must be zero for real-time systems";

// Sets up `engine` from the root's sample times and sets the hits of step 0 (every
// rate without offset hits). Returns null, or kNonZeroStartTime without changing
// anything when SimInfo.startTime is not exactly 0.0.
const char* initializeTiming(BlockRecord& root, TimingState& engine);

// Counts the step that is starting and returns the model time of the next step.
// Called at the beginning of every step, before the model's outputs.
double advanceTime(TimingState& engine);

// Sets SimInfo.sampleHits and taskTimes for the next step from the counters that
// advanceTime moved on. Called at the end of every step, after the model's update.
void updateSampleHits(BlockRecord& root);

}  // namespace bm7
