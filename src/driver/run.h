// The program after its command line is parsed: builds and starts the model, steps
// it at the base rate until the final time, a stop request or an error, then stops
// logging, reports the outcome and terminates the model on success. Run messages go
// to `out`, failures to `err`; the result is the process exit status.
#pragma once

#include <cstddef>
#include <cstdio>

#include "driver/block.h"
#include "driver/command_line.h"
#include "driver/logging.h"
#include "driver/model.h"
#include "driver/timing.h"

namespace bm7 {

inline constexpr const char* kMatrixFileName = "brakmoor7.nmx";

// The state of one run. Several drivers with their own models may run on separate
// threads.
struct Driver {
    explicit Driver(Model& runModel) : model(runModel) {}

    Model& model;
    BlockRecord* root = nullptr;
    TimingState timing;
    int stopFlag = 0;         // ends the loop: error status, re-entry or logging failure
    int stepsInProgress = 0;  // left non-zero when a step was entered during another
    const char* logError = nullptr;
    const char* matrixFileName = kMatrixFileName;
    // The logging update of each step. Logging has no failure of its own; the step still
    // handles one, and a replacement lets that path be exercised.
    const char* (*logUpdate)(BlockRecord& root) = logStep;
    // Polled after each step: a nonzero answer (a signal number) ends the run as cleanly
    // as a stop request and is named on the error stream.
    int (*pendingStopSignal)() = nullptr;
    int stoppedBySignal = 0;
};

// Sets rtInf, rtMinusInf and rtNaN for reals of `realSize` bytes; on failure reports
// on `err` and returns false.
bool initializeConstants(std::size_t realSize, std::FILE* err);

// One base-rate step. Entered while another step is running, it only marks the overrun.
void oneStep(Driver& driver);

// Start-up, the loop and the end of the run for the driver's model.
int runModel(Driver& driver, const CommandLine& commandLine, std::FILE* out, std::FILE* err);

int runProgram(const CommandLine& commandLine, Model& model, std::FILE* out, std::FILE* err,
               int (*pendingStopSignal)() = nullptr);

}  // namespace bm7
