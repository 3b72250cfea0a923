#include "driver/run.h"

#include "driver/nonfinite.h"
#include "driver/stop_signals.h"

namespace bm7 {

namespace {

constexpr int kStarted = -1;
constexpr int kFailure = 1;
// 2^-52: relative slack so that rounding in k x h never adds a step at the final time.
constexpr double kFinalTimeSlack = 2.220446049250313e-16;

void endStep(Driver& driver) {
    driver.stopFlag = 1;
    --driver.stepsInProgress;
}

// Returns kStarted, or the exit status of a start-up that failed.
int startUp(Driver& driver, const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    if (!initializeConstants(sizeof(double), err)) return kFailure;
    driver.root = driver.model.registerModel();
    BlockRecord& root = *driver.root;
    SimInfo& sim = *root.simInfo;
    if (commandLine.hasFinalTime) sim.finalTime = commandLine.finalTime;
    driver.model.declareModelSizes();
    driver.model.declareModelSampleTimes();

    if (const char* message = initializeTiming(root, driver.timing)) {
        std::fprintf(err, "Failed to initialize sample time engine: %s\n", message);
        return kFailure;
    }
    sim.solverName = "FixedStepDiscrete";
    if (const char* message = startLogging(root, "rt_", out)) {
        driver.logError = message;
        std::fprintf(err, "Error starting data logging: %s\n", message);
        releaseLogging(sim);
        return kFailure;
    }
    driver.model.start();
    if (root.errorStatus != nullptr) driver.stopFlag = 1;
    return kStarted;
}

// Made before each step on the time it would run at, so the last step may run up to
// one step past the final time.
bool finalTimeReached(const SimInfo& sim) {
    const double now = sim.taskTimes[0];
    return sim.finalTime != 0.0 && sim.finalTime - now <= now * kFinalTimeSlack;
}

bool signalledToStop(Driver& driver) {
    if (driver.pendingStopSignal != nullptr) driver.stoppedBySignal = driver.pendingStopSignal();
    return driver.stoppedBySignal != 0;
}

void runLoop(Driver& driver) {
    const SimInfo& sim = *driver.root->simInfo;
    if (driver.stopFlag || signalledToStop(driver)) return;
    // A signal stops the run once the input captured before it has been analysed: a
    // live model sleeps until several frames have gathered, and these are the end of
    // what was heard. Only those: an unpaced source refills its queue as fast as it is
    // emptied. Negative until a signal comes.
    int stepsLeft = -1;
    while (!finalTimeReached(sim)) {
        oneStep(driver);
        const bool signalled = signalledToStop(driver);
        if (sim.stopRequested || driver.stopFlag) return;
        if (signalled && stepsLeft < 0) stepsLeft = driver.model.capturedStepsWaiting();
        if (stepsLeft == 0) return;
        if (stepsLeft > 0) --stepsLeft;  // for the step about to run
    }
    if (!driver.stopFlag && !sim.stopRequested) oneStep(driver);
}

int endRun(Driver& driver, std::FILE* out, std::FILE* err) {
    stopLogging(driver.matrixFileName, *driver.root, out, err);
    if (driver.logError != nullptr) {
        std::fprintf(err, "%s\n", driver.logError);
        return kFailure;
    }
    if (driver.stepsInProgress != 0) {
        std::fprintf(err, "%s: ISR overrun - base sampling rate is too fast\n", kModelName);
        return kFailure;
    }
    if (driver.root->errorStatus != nullptr) {
        std::fprintf(err, "%s\n", driver.root->errorStatus);
        return kFailure;
    }
    driver.model.terminate();
    if (driver.stoppedBySignal != 0) {
        std::fprintf(err, "Stopped by the signal %s\n", stopSignalName(driver.stoppedBySignal));
    }
    return 0;
}

}  // namespace

bool initializeConstants(std::size_t realSize, std::FILE* err) {
    if (initializeNonFinites(realSize)) return true;
    std::fputs("Unable to initialize rtInf, rtMinusInf, and rtNaN\n", err);
    return false;
}

void oneStep(Driver& driver) {
    if (driver.stepsInProgress != 0) {
        // Leave the counter raised so that the end of the run reports the overrun.
        ++driver.stepsInProgress;
        driver.stopFlag = 1;
        return;
    }
    ++driver.stepsInProgress;
    BlockRecord& root = *driver.root;
    SimInfo& sim = *root.simInfo;
    if (root.errorStatus != nullptr) {
        endStep(driver);
        return;
    }
    // The model's outputs still see the current time and hits.
    sim.nextTime = advanceTime(driver.timing);
    driver.model.outputs(0);
    if (const char* message = driver.logUpdate(root)) {
        driver.logError = message;
        endStep(driver);
        return;
    }
    driver.model.update(0);
    updateSampleHits(root);
    // A continuous base rate gets no time from the timing engine.
    if (root.samplePeriods[0] == 0.0) sim.taskTimes[0] = sim.nextTime;
    --driver.stepsInProgress;
}

int runModel(Driver& driver, const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    const int startStatus = startUp(driver, commandLine, out, err);
    if (startStatus != kStarted) return startStatus;
    runLoop(driver);
    return endRun(driver, out, err);
}

int runProgram(const CommandLine& commandLine, Model& model, std::FILE* out, std::FILE* err,
               int (*pendingStopSignal)()) {
    Driver driver(model);
    driver.pendingStopSignal = pendingStopSignal;
    return runModel(driver, commandLine, out, err);
}

}  // namespace bm7
