// The model step against a floor: the same frame's transform work (one 16384-point, eight
// 2048-point, eight 256-point and two 512-point real forward and inverse pairs) done by
// FFTW, beside that work done by the project's own transform blocks. FFTW is here only
// as a yardstick; the program never links it. Prints the model step's multiple of the
// floor after the table, from each benchmark's least time over repetitions run in random
// interleaving: other work on a shared machine only ever adds time, and interleaving
// spreads a slow spell over all three instead of one.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "blocks/block_harness.h"
#include "blocks/naive_dft.h"
#include "blocks/real_fft.h"
#include "blocks/real_ifft.h"
#include "demo_recording.h"
#include "model/detector_harness.h"

namespace bm7 {
namespace {

// Transform length and how many forward and inverse pairs a frame does at that length.
struct FrameTransforms {
    int length;
    int pairs;
};
constexpr FrameTransforms kFrameTransforms[] = {{16384, 1}, {2048, 8}, {256, 8}, {512, 2}};

constexpr int kModelSteps = 1000;
constexpr int kRepetitions = 9;

double leastOf(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

// One length's forward and inverse plans over their own arrays, planned by measurement
// so that the floor is FFTW's best on this machine.
class FftwPair {
public:
    explicit FftwPair(int length)
        : length_(length),
          real_(fftw_alloc_real(static_cast<std::size_t>(length))),
          spectrum_(fftw_alloc_complex(static_cast<std::size_t>(length / 2 + 1))) {
        forward_ = fftw_plan_dft_r2c_1d(length, real_, spectrum_, FFTW_MEASURE);
        inverse_ = fftw_plan_dft_c2r_1d(length, spectrum_, real_, FFTW_MEASURE);
        const std::vector<double> input =
            blocktest::randomFrame(static_cast<std::size_t>(length), 1u);
        for (int i = 0; i < length; ++i) real_[i] = input[static_cast<std::size_t>(i)];
    }
    ~FftwPair() {
        fftw_destroy_plan(forward_);
        fftw_destroy_plan(inverse_);
        fftw_free(real_);
        fftw_free(spectrum_);
    }
    FftwPair(const FftwPair&) = delete;
    FftwPair& operator=(const FftwPair&) = delete;

    void run() {
        fftw_execute(forward_);
        fftw_execute(inverse_);
        // The inverse is unscaled; scaling keeps the values from growing run after run.
        const double scale = 1.0 / length_;
        for (int i = 0; i < length_; ++i) real_[i] *= scale;
        benchmark::DoNotOptimize(real_);
    }

private:
    int length_;
    double* real_;
    fftw_complex* spectrum_;
    fftw_plan forward_;
    fftw_plan inverse_;
};

void fftwFrame(benchmark::State& state) {
    std::vector<std::unique_ptr<FftwPair>> pairs;
    std::vector<FftwPair*> sequence;
    for (const FrameTransforms& t : kFrameTransforms) {
        pairs.push_back(std::make_unique<FftwPair>(t.length));
        for (int p = 0; p < t.pairs; ++p) sequence.push_back(pairs.back().get());
    }
    for (auto _ : state)
        for (FftwPair* pair : sequence) pair->run();
}
BENCHMARK(fftwFrame)
    ->Repetitions(kRepetitions)
    ->ComputeStatistics("least", leastOf)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// The project's Real FFT and Real IFFT blocks at the same lengths, each block fed as in
// the model: the forward one with a frame, the inverse one with a full spectrum.
void ownTransformsFrame(benchmark::State& state) {
    using blocktest::BlockHarness;
    std::vector<std::unique_ptr<BlockHarness>> blocks;
    for (const FrameTransforms& t : kFrameTransforms) {
        for (int p = 0; p < t.pairs; ++p) {
            auto forward = std::make_unique<BlockHarness>(
                registerRealFft, std::vector<std::vector<double>>{blocktest::scalar(-1)}, t.length,
                2 * t.length, true);
            auto inverse = std::make_unique<BlockHarness>(
                registerRealIfft, std::vector<std::vector<double>>{blocktest::scalar(-1)},
                2 * t.length, 2 * t.length, true);
            forward->initializeConditions();
            inverse->initializeConditions();
            forward->setInput(blocktest::randomFrame(static_cast<std::size_t>(t.length), 2u));
            inverse->setInput(blocktest::randomFrame(static_cast<std::size_t>(2 * t.length), 3u));
            blocks.push_back(std::move(forward));
            blocks.push_back(std::move(inverse));
        }
    }
    for (auto _ : state) {
        for (auto& block : blocks) {
            block->outputs();
            benchmark::DoNotOptimize(block->outputVector().data());
        }
    }
}
BENCHMARK(ownTransformsFrame)
    ->Repetitions(kRepetitions)
    ->ComputeStatistics("least", leastOf)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

void modelStepFrame(benchmark::State& state) {
    if (demoRecordingFor<kModelSteps>().empty()) {
        state.SkipWithError("data/demo.wav not found; set BM7_SOURCE_DIR");
        return;
    }
    testing::SteppedDetector run(demoRecordingFor<kModelSteps>());
    for (auto _ : state) run.step();
}
BENCHMARK(modelStepFrame)
    ->Iterations(kModelSteps)
    ->Repetitions(kRepetitions)
    ->ComputeStatistics("least", leastOf)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// Shows the table as usual and keeps each benchmark's least CPU time per iteration.
class LeastKeeper : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name == "least")
                least_[run.run_name.function_name] = run.GetAdjustedCPUTime();
        }
    }
    double least(const std::string& name) const {
        const auto found = least_.find(name);
        return found == least_.end() ? 0.0 : found->second;
    }

private:
    std::map<std::string, double> least_;
};

}  // namespace
}  // namespace bm7

int main(int argc, char** argv) {
    // Interleaved unless the command line says otherwise: flags given later win.
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;
    bm7::LeastKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double floor = reporter.least("fftwFrame");
    const double own = reporter.least("ownTransformsFrame");
    const double step = reporter.least("modelStepFrame");
    if (floor > 0.0 && step > 0.0) {
        std::printf(
            "FFTW floor %.1f us per frame; own transforms %.2f x the floor; "
            "model step %.1f us, %.2f x the floor (goal at most 2.5; least times)\n",
            floor, own / floor, step, step / floor);
    }
    return 0;
}
