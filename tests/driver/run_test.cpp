#include "driver/run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "driver/driver_test_support.h"
#include "driver/nonfinite.h"

namespace bm7 {
namespace {

using driver_test::CapturedStream;
using driver_test::kFrameStep;
using driver_test::readMatrixFile;
using driver_test::ScratchDirectory;
using driver_test::TestRoot;

constexpr double kCheckPeriod = 1.114557823129252;
constexpr double kHourlyPeriod = 3600.021768707483;

// A model that records what the driver asks of it; hooks let a test fail, stop or
// re-enter at chosen points.
class RecordingModel : public Model {
public:
    explicit RecordingModel(std::vector<double> periods = {kFrameStep, kCheckPeriod, kHourlyPeriod})
        : shape(std::move(periods)) {}

    BlockRecord* registerModel() override { return &shape.root; }
    void declareModelSizes() override { ++sizesDeclared; }
    void declareModelSampleTimes() override {
        if (onSampleTimes) onSampleTimes();
    }
    void start() override {
        ++starts;
        if (onStart) onStart();
    }
    void outputs(int task) override {
        EXPECT_EQ(task, 0);
        stepTimes.push_back(shape.sim.taskTimes[0]);
        nextTimes.push_back(shape.sim.nextTime);
        if (onOutputs) onOutputs(static_cast<int>(stepTimes.size()) - 1);
    }
    void update(int task) override {
        EXPECT_EQ(task, 0);
        ++updates;
        if (onUpdate) onUpdate(static_cast<int>(stepTimes.size()) - 1);
    }
    void terminate() override { ++terminations; }
    int capturedStepsWaiting() override { return stepsWaiting; }

    void report(const char* message) { reportError(shape.root, message); }

    TestRoot shape;
    std::function<void()> onSampleTimes;
    std::function<void()> onStart;
    std::function<void(int step)> onOutputs;
    std::function<void(int step)> onUpdate;
    int sizesDeclared = 0;
    int starts = 0;
    std::vector<double> stepTimes;
    std::vector<double> nextTimes;
    int updates = 0;
    int terminations = 0;
    int stepsWaiting = 0;
};

CommandLine withFinalTime(double finalTime) {
    CommandLine commandLine;
    commandLine.hasFinalTime = true;
    commandLine.finalTime = finalTime;
    return commandLine;
}

// Runs `model` with its matrix file kept in a scratch directory.
struct DriverRun {
    explicit DriverRun(RecordingModel& model) : driver(model) {
        driver.matrixFileName = matrixFile.c_str();
    }
    int operator()(const CommandLine& commandLine) {
        return runModel(driver, commandLine, out.get(), err.get());
    }

    Driver driver;
    ScratchDirectory directory;
    std::string matrixFile = directory.file("brakmoor7.nmx");
    CapturedStream out;
    CapturedStream err;
};

TEST(RunLoop, StepsAtZeroAndEachMultipleOfTheStepUntilOnePastTheFinalTime) {
    RecordingModel model;
    DriverRun run(model);
    EXPECT_EQ(run(withFinalTime(1.0)), 0);

    const double h = kFrameStep;
    EXPECT_EQ(model.stepTimes, (std::vector<double>{0.0, h, 2 * h, 3 * h}));
    // The next time is known to the outputs of the step before it runs.
    EXPECT_EQ(model.nextTimes, (std::vector<double>{h, 2 * h, 3 * h, 4 * h}));
    EXPECT_EQ(model.updates, 4);
    EXPECT_EQ(model.terminations, 1);
    EXPECT_STREQ(model.shape.sim.solverName, "FixedStepDiscrete");
    EXPECT_EQ(run.out.text(), "");
    EXPECT_EQ(run.err.text(), "");
    EXPECT_FALSE(std::filesystem::exists(run.matrixFile));
}

TEST(RunLoop, RunsAStepAtAFinalTimeThatIsAWholeNumberOfSteps) {
    RecordingModel model({0.5});
    DriverRun run(model);
    EXPECT_EQ(run(withFinalTime(1.0)), 0);
    EXPECT_EQ(model.stepTimes, (std::vector<double>{0.0, 0.5, 1.0}));
}

TEST(RunLoop, TakesTheTimeFromTheStepWhenTheBaseRateIsContinuous) {
    RecordingModel model({0.0});
    model.shape.sim.fixedStepSize = 0.25;
    DriverRun run(model);
    EXPECT_EQ(run(withFinalTime(0.5)), 0);
    EXPECT_EQ(model.stepTimes, (std::vector<double>{0.0, 0.25, 0.5}));
}

TEST(RunLoop, EndsNormallyAfterTheStepInWhichTheModelAsksToStop) {
    RecordingModel model;
    model.onOutputs = [&](int step) {
        if (step == 4) model.shape.sim.stopRequested = 1;
    };
    DriverRun run(model);
    EXPECT_EQ(run(CommandLine{}), 0);
    EXPECT_EQ(model.stepTimes.size(), 5U);
    EXPECT_EQ(model.updates, 5);
    EXPECT_EQ(model.terminations, 1);
    EXPECT_EQ(run.err.text(), "");
}

TEST(RunLoop, KeepsTheModelsFinalTimeWithoutAFinalTimeArgument) {
    RecordingModel model;
    model.shape.sim.finalTime = 0.5;
    DriverRun run(model);
    EXPECT_EQ(run(CommandLine{}), 0);
    EXPECT_EQ(model.stepTimes.size(), 3U);
}

// What the process's signal handlers would have recorded, for the driver to poll.
int pendingSignal = 0;
int readPendingSignal() {
    return pendingSignal;
}

TEST(RunSignals, AStopSignalEndsTheRunCleanlyAfterTheStepItArrivedInAndIsNamed) {
    pendingSignal = 0;
    RecordingModel model;
    model.onOutputs = [&](int step) {
        if (step == 2) pendingSignal = SIGTERM;
    };
    DriverRun run(model);
    run.driver.pendingStopSignal = readPendingSignal;
    EXPECT_EQ(run(CommandLine{}), 0);
    EXPECT_EQ(model.stepTimes.size(), 3U);
    EXPECT_EQ(model.updates, 3);
    EXPECT_EQ(model.terminations, 1);
    EXPECT_EQ(run.err.text(), "Stopped by the signal SIGTERM\n");
}

// The input captured before the signal is analysed before the run ends; input that
// keeps coming after it is not, and neither a final time nor a stop request is passed.
TEST(RunSignals, AStopSignalFirstTakesTheStepsOfInputCapturedBeforeIt) {
    for (const auto& [finalTime, stopAt, expectedSteps] :
         {std::tuple{0.0, -1, 6}, std::tuple{4 * kFrameStep, -1, 5}, std::tuple{0.0, 4, 5}}) {
        pendingSignal = 0;
        RecordingModel model;
        model.onOutputs = [&, stopAt = stopAt](int step) {
            if (step == 2) {
                pendingSignal = SIGTERM;
                model.stepsWaiting = 3;  // stays 3: an unpaced source refills its queue
            }
            if (step == stopAt) model.shape.sim.stopRequested = 1;
        };
        DriverRun run(model);
        run.driver.pendingStopSignal = readPendingSignal;
        CommandLine commandLine = finalTime > 0.0 ? withFinalTime(finalTime) : CommandLine{};
        EXPECT_EQ(run(commandLine), 0);
        EXPECT_EQ(model.stepTimes.size(), static_cast<std::size_t>(expectedSteps)) << finalTime;
        EXPECT_EQ(model.terminations, 1);
        EXPECT_EQ(run.err.text(), "Stopped by the signal SIGTERM\n");
    }
}

TEST(RunSignals, ASignalDuringStartUpRunsNoStepButStillEndsCleanly) {
    pendingSignal = 0;
    RecordingModel model;
    model.onStart = [] { pendingSignal = SIGHUP; };
    DriverRun run(model);
    run.driver.pendingStopSignal = readPendingSignal;
    EXPECT_EQ(run(withFinalTime(10.0)), 0);
    EXPECT_TRUE(model.stepTimes.empty());
    EXPECT_EQ(model.terminations, 1);
    EXPECT_EQ(run.err.text(), "Stopped by the signal SIGHUP\n");
}

TEST(RunSignals, AStopRequestInTheSameStepStillNamesTheSignal) {
    pendingSignal = 0;
    RecordingModel model;
    model.onOutputs = [&](int step) {
        if (step != 1) return;
        pendingSignal = SIGINT;
        model.shape.sim.stopRequested = 1;
    };
    DriverRun run(model);
    run.driver.pendingStopSignal = readPendingSignal;
    EXPECT_EQ(run(CommandLine{}), 0);
    EXPECT_EQ(run.err.text(), "Stopped by the signal SIGINT\n");
}

TEST(RunSignals, AnErrorInTheStepASignalEndsIsStillAFailure) {
    pendingSignal = 0;
    RecordingModel model;
    model.onOutputs = [&](int step) {
        if (step != 1) return;
        pendingSignal = SIGTERM;
        model.report("No audio input");
    };
    DriverRun run(model);
    run.driver.pendingStopSignal = readPendingSignal;
    EXPECT_EQ(run(CommandLine{}), 1);
    EXPECT_EQ(model.terminations, 0);
    EXPECT_EQ(run.err.text(), "No audio input\n");
}

TEST(RunFailures, AnErrorInModelStartRunsNoStep) {
    RecordingModel model;
    model.onStart = [&] { model.report("Device not ready"); };
    DriverRun run(model);
    EXPECT_EQ(run(withFinalTime(1.0)), 1);
    EXPECT_TRUE(model.stepTimes.empty());
    EXPECT_EQ(model.terminations, 0);
    EXPECT_EQ(run.err.text(), "Device not ready\n");
}

TEST(RunFailures, AnErrorInAStepFinishesThatStepAndKeepsOnlyTheLastMessage) {
    RecordingModel model;
    model.onOutputs = [&](int step) {
        if (step == 2) model.report("first fault");
    };
    model.onUpdate = [&](int step) {
        if (step == 2) model.report("second fault");
    };
    DriverRun run(model);
    EXPECT_EQ(run(CommandLine{}), 1);
    EXPECT_EQ(model.stepTimes.size(), 3U);
    EXPECT_EQ(model.updates, 3);
    EXPECT_EQ(model.terminations, 0);
    EXPECT_EQ(run.err.text(), "second fault\n");
}

TEST(RunFailures, ARefusedTimingEngineStopsBeforeTheModelStarts) {
    RecordingModel model;
    model.onSampleTimes = [&] { model.shape.sim.startTime = 0.5; };
    DriverRun run(model);
    EXPECT_EQ(run(withFinalTime(1.0)), 1);
    EXPECT_EQ(model.sizesDeclared, 1);
    EXPECT_EQ(model.starts, 0);
    EXPECT_EQ(model.terminations, 0);
    EXPECT_EQ(run.err.text(),
              "Failed to initialize sample time engine: Start time must be zero for real-time "
              "systems\n");
}

TEST(RunFailures, LoggingThatCannotStartStopsBeforeTheModelStarts) {
    RecordingModel model({1.0});
    model.shape.sim.timeLogName = "tout";
    DriverRun run(model);
    EXPECT_EQ(run(withFinalTime(3e9)), 1);
    EXPECT_EQ(model.starts, 0);
    EXPECT_EQ(model.terminations, 0);
    EXPECT_EQ(run.err.text(), "Error starting data logging: Memory allocation error\n");
    EXPECT_EQ(run.out.text().rfind("*** Error allocating memory for the circular buffer\n", 0), 0U);
    EXPECT_EQ(model.shape.sim.logInfo, nullptr);
}

TEST(RunFailures, ALoggingUpdateFailureEndsTheStepBeforeTheModelUpdate) {
    RecordingModel model;
    DriverRun run(model);
    static int logCalls = 0;
    logCalls = 0;
    run.driver.logUpdate = [](BlockRecord&) -> const char* {
        return ++logCalls == 3 ? "log device lost" : nullptr;
    };
    EXPECT_EQ(run(CommandLine{}), 1);
    EXPECT_EQ(model.stepTimes.size(), 3U);
    EXPECT_EQ(model.updates, 2);
    EXPECT_EQ(model.terminations, 0);
    EXPECT_EQ(run.err.text(), "log device lost\n");
}

TEST(RunFailures, AStepEnteredDuringAnotherIsReportedAsAnOverrun) {
    RecordingModel model;
    DriverRun run(model);
    model.onOutputs = [&](int step) {
        if (step == 1) oneStep(run.driver);
    };
    EXPECT_EQ(run(CommandLine{}), 1);
    // The nested call does nothing; the step it interrupted still completes.
    EXPECT_EQ(model.stepTimes.size(), 2U);
    EXPECT_EQ(model.updates, 2);
    EXPECT_EQ(model.terminations, 0);
    EXPECT_EQ(run.err.text(), "brakmoor7: ISR overrun - base sampling rate is too fast\n");
}

TEST(RunFailures, WriteTheLogBeforeReportingTheError) {
    RecordingModel model;
    model.shape.sim.timeLogName = "tout";
    model.shape.sim.logMaxRows = 10;
    model.onUpdate = [&](int step) {
        if (step == 1) model.report("Clip directory is missing");
    };
    DriverRun run(model);
    EXPECT_EQ(run(CommandLine{}), 1);
    EXPECT_EQ(run.err.text(), "Clip directory is missing\n");
    EXPECT_EQ(run.out.text(), "Created " + run.matrixFile + "\n");
    const auto records = readMatrixFile(run.matrixFile);
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].values, (std::vector<double>{0.0, kFrameStep}));
}

TEST(RunLogging, RecordsTheTimeOfEveryStepOfARunWithAFinalTime) {
    RecordingModel model;
    model.shape.sim.timeLogName = "tout";
    DriverRun run(model);
    EXPECT_EQ(run(withFinalTime(1.0)), 0);
    const auto records = readMatrixFile(run.matrixFile);
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].name, "rt_tout");
    const double h = kFrameStep;
    EXPECT_EQ(records[0].values, (std::vector<double>{0.0, h, 2 * h, 3 * h}));
    EXPECT_EQ(run.out.text(), "Created " + run.matrixFile + "\n");
}

TEST(NonFiniteConstants, AreSetForDoublesAndRefusedForOtherSizes) {
    CapturedStream err;
    EXPECT_TRUE(initializeConstants(8, err.get()));
    EXPECT_TRUE(std::isinf(rtInf) && rtInf > 0);
    EXPECT_FALSE(initializeConstants(2, err.get()));
    EXPECT_EQ(err.text(), "Unable to initialize rtInf, rtMinusInf, and rtNaN\n");
}

}  // namespace
}  // namespace bm7
