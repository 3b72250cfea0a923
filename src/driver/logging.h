// Output logging: records the model time, state vector, outputs and final state
// once every `decimation` steps into circular buffers sized at start-up, and at the
// end of the run writes them as matrix records to one file. Nothing is allocated
// while logging. Notices go to `out`, failures to `err`; error texts returned are of
// static lifetime. All calls come from the driver's thread between model calls.
#pragma once

#include <cstdio>

#include "driver/block.h"

namespace bm7 {

inline constexpr int kLogNameSize = 32;
inline constexpr int kDefaultLogRows = 1024;
inline constexpr const char* kLogMemoryError = "Memory allocation error";

struct LogVar {
    char name[kLogNameSize] = {};  // prefix + variable name, cut to 31 characters
    int nRows = 0;
    int nDataPoints = 0;  // set by finishLogVar: wrapCount x nRows + rowIndex
    int rowIndex = 0;     // next row to write
    int wrapCount = 0;
    int usedDefaultSize = 0;  // nRows was defaulted: report wraps at the end
    // Row after row while logging; column after column once finished. Owned.
    double* data = nullptr;
    int decimation = 1;
    int nCols = 0;
    int decimationCounter = -1;
    LogVar* next = nullptr;  // creation order
};

struct LogInfo {
    LogVar* variables = nullptr;
    LogVar* timeVar = nullptr;
    LogVar* stateVar = nullptr;
    int outputVarCount = 0;
    LogVar** outputVars = nullptr;  // owned array of outputVarCount entries
    LogVar* finalStateVar = nullptr;
};

// Creates SimInfo.logInfo and one variable per non-empty log name in SimInfo.
// Returns null or the first error; variables created before an error stay listed.
const char* startLogging(BlockRecord& root, const char* prefix, std::FILE* out);

// Records the current time, state and outputs. Never fails: returns null.
const char* logStep(BlockRecord& root);

// Writes every variable with data to `fileName` and releases all logging memory.
// With no variable at all it opens no file and prints nothing. Failures are
// reported on `err` and do not change the outcome of the run.
void stopLogging(const char* fileName, BlockRecord& root, std::FILE* out, std::FILE* err);

// Releases SimInfo.logInfo and everything it owns without writing anything.
void releaseLogging(SimInfo& sim);

// Creates one variable with a buffer sized from the final time, maxRows and the
// decimation, appends it to the list and stores it in `slot`.
const char* createLogVar(BlockRecord& root, const char* prefix, const char* varName, int maxRows,
                         int decimation, int nCols, double sampleTime, LogVar** slot,
                         std::FILE* out);

// Stores `values` (nCols doubles) as the next row on every decimation-th call.
void updateLogVar(LogVar& var, const double* values);

// Puts the rows in column order, oldest row first, ready to be written.
const char* finishLogVar(LogVar& var, std::FILE* out);

}  // namespace bm7
