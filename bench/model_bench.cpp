// One step of the whole detector model (outputs and update), fed by the bundled
// recording through the audio-file source as in an offline run, so the time includes
// the hand-off from the reader thread. The hour a user cares about is 9690 such steps;
// scripts/time_hour.sh times the program itself over one.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "demo_recording.h"
#include "model/detector_harness.h"

namespace bm7 {
namespace {

constexpr int kStepsPerRun = 1000;

// The bundled recording repeated until it covers a run, read once.

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

}  // namespace
}  // namespace bm7
