// One step of the whole detector model (outputs and update), fed by the bundled
// recording through the audio-file source as in an offline run, so the time includes
// the hand-off from the reader thread. The hour a user cares about is 9690 such steps;
// scripts/time_hour.sh times the program itself over one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/capture_layer.h"
#include "demo_recording.h"
#include "model/detector_harness.h"

namespace bm7 {
namespace {

constexpr int kStepsPerRun = 1000;

void modelStep(benchmark::State& state) {
    if (demoRecordingFor<kStepsPerRun>().empty()) {
        state.SkipWithError("data/demo.wav not found; set BM7_SOURCE_DIR");
        return;
    }
    testing::SteppedDetector run(demoRecordingFor<kStepsPerRun>());
    for (auto _ : state) run.step();
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * testing::kFrame / testing::kRate,
        benchmark::Counter::kIsRate);
}
BENCHMARK(modelStep)
    ->Iterations(kStepsPerRun)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// Steps as a live monitor takes them: between two wake-ups seconds apart the machine
// runs other work, which pushes the model's signals out of the caches. Writing a buffer
// larger than the last-level cache (outside the timing) before the first step of each
// batch does the same here; the argument is the batch, the frames taken per wake-up
// (1, as once, and the live sources' batch). The time is per step.
void modelStepFromMemory(benchmark::State& state) {
    if (demoRecordingFor<kStepsPerRun>().empty()) {
        state.SkipWithError("data/demo.wav not found; set BM7_SOURCE_DIR");
        return;
    }
    testing::SteppedDetector run(demoRecordingFor<kStepsPerRun>());
    std::vector<char> evictor(std::size_t{64} << 20, 1);
    char round = 0;
    std::int64_t steps = 0;
    for (auto _ : state) {
        if (steps++ % state.range(0) == 0) {
            state.PauseTiming();
            ++round;
            for (std::size_t i = 0; i < evictor.size(); i += 64) evictor[i] = round;
            benchmark::DoNotOptimize(evictor.data());
            state.ResumeTiming();
        }
        run.step();
    }
}
BENCHMARK(modelStepFromMemory)
    ->Arg(1)
    ->Arg(kLiveWakeBatch)
    ->Iterations(400)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace bm7
