// One step of the whole detector model (outputs and update), fed by the bundled
// recording through the audio-file source as in an offline run, so the time includes
// the hand-off from the reader thread. The hour a user cares about is 9690 such steps;
// scripts/time_hour.sh times the program itself over one.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "model/detector_harness.h"

namespace bm7 {
namespace {

constexpr int kStepsPerRun = 1000;

// The bundled recording repeated until it covers a run, read once.
const std::vector<std::int16_t>& runRecording() {
    static const std::vector<std::int16_t> samples = [] {
        const char* source = std::getenv("BM7_SOURCE_DIR");
        const std::string root = source != nullptr ? source : BM7_SOURCE_ROOT;
        const std::vector<std::int16_t> demo = testing::readWave(root + "/data/demo.wav");
        std::vector<std::int16_t> all;
        while (!demo.empty() && all.size() < (kStepsPerRun + 10) * std::size_t{testing::kFrame}) {
            all.insert(all.end(), demo.begin(), demo.end());
        }
        return all;
    }();
    return samples;
}

void modelStep(benchmark::State& state) {
    if (runRecording().empty()) {
        state.SkipWithError("data/demo.wav not found; set BM7_SOURCE_DIR");
        return;
    }
    testing::SteppedDetector run(runRecording());
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
