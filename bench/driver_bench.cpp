// What the driver adds to each step, and what finishing a wrapped log buffer costs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "driver/logging.h"
#include "driver/run.h"

namespace bm7 {
namespace {

constexpr double kFrameStep = 0.3715192743764172;

// A model with the three rates of the detector and nothing to compute.
class IdleModel : public Model {
public:
    IdleModel() {
        root.errorRecord = &root;
        root.sampleTimeCount = 3;
        root.samplePeriods = periods;
        root.sampleOffsets = offsets;
        root.sampleTimeTaskIds = taskIds;
        root.simInfo = &sim;
        sim.taskTimes = taskTimes;
        sim.sampleHits = hits;
        sim.fixedStepSize = kFrameStep;
    }
    BlockRecord* registerModel() override { return &root; }
    void declareModelSizes() override {}
    void declareModelSampleTimes() override {}
    void start() override {}
    void outputs(int) override {}
    void update(int) override {}
    void terminate() override {}

    double periods[3] = {kFrameStep, 3 * kFrameStep, 9690 * kFrameStep};
    double offsets[3] = {};
    int taskIds[3] = {};
    double taskTimes[3] = {};
    int hits[3] = {};
    SimInfo sim;
    BlockRecord root;
};

void driverStep(benchmark::State& state) {
    IdleModel model;
    Driver driver(model);
    driver.root = model.registerModel();
    initializeTiming(*driver.root, driver.timing);
    for (auto _ : state) {
        oneStep(driver);
        benchmark::DoNotOptimize(model.sim.taskTimes[0]);
    }
}
BENCHMARK(driverStep);

void finishWrappedLog(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const int cols = 4;
    std::vector<double> row(cols, 1.0);
    std::FILE* discard = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        state.PauseTiming();
        LogVar var;
        var.nRows = rows;
        var.nCols = cols;
        var.data = new double[static_cast<std::size_t>(rows) * cols];
        for (int update = 0; update < rows + rows / 3; ++update) updateLogVar(var, row.data());
        state.ResumeTiming();
        finishLogVar(var, discard);
        benchmark::DoNotOptimize(var.data);
        delete[] var.data;
    }
    std::fclose(discard);
    state.SetItemsProcessed(state.iterations() * rows * cols);
}
BENCHMARK(finishWrappedLog)->Arg(1024)->Arg(1 << 18);

}  // namespace
}  // namespace bm7
