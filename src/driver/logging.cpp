#include "driver/logging.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "driver/matrix_file.h"

namespace bm7 {

namespace {

bool isEmptyName(const char* name) {
    return name == nullptr || name[0] == '\0';
}

// Sample instants from 0 through the first one at or after the final time, of which
// every decimation-th is kept. Exact while it can be held; beyond, only its size
// matters, so the count is a double.
double rowsForFinalTime(const SimInfo& sim, double sampleTime, int decimation) {
    double period = sampleTime;
    if (sampleTime == -2.0) {
        period = sim.finalTime;
    } else if (sampleTime == -1.0 || sampleTime == 0.0) {
        period = sim.fixedStepSize;
    }
    const double wholePeriods = std::trunc(sim.finalTime / period);
    // Too many to hold, or a period of the wrong sign: the caller refuses or clamps it.
    if (!(std::fabs(wholePeriods) < 0x1p53)) return wholePeriods / decimation;
    long long instants = static_cast<long long>(wholePeriods) + 1;
    if (static_cast<double>(instants - 1) * period < sim.finalTime) ++instants;
    return static_cast<double>((instants + decimation - 1) / decimation);
}

double* allocateRows(double rows, int nCols) {
    if (!(rows <= INT_MAX) || nCols < 0) return nullptr;
    const auto count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(nCols);
    if (count > SIZE_MAX / sizeof(double)) return nullptr;
    return new (std::nothrow) double[count];
}

void appendToList(LogInfo& info, LogVar* var) {
    LogVar** end = &info.variables;
    while (*end != nullptr) end = &(*end)->next;
    *end = var;
}

// Splits the comma-separated output names; each name is cut to 31 characters. The
// search for a comma starts at a name's second character.
const char* createOutputVars(BlockRecord& root, const char* prefix, std::FILE* out) {
    SimInfo& sim = *root.simInfo;
    LogInfo& info = *sim.logInfo;
    const char* names = sim.outputLogNames;
    info.outputVarCount = 1 + static_cast<int>(std::count(names, names + std::strlen(names), ','));
    info.outputVars = new (std::nothrow) LogVar* [info.outputVarCount] {};
    if (info.outputVars == nullptr) return kLogMemoryError;

    const char* remaining = names;
    for (int k = 0; k < info.outputVarCount; ++k) {
        const char* comma = remaining[0] != '\0' ? std::strchr(remaining + 1, ',') : nullptr;
        const std::size_t length =
            comma != nullptr ? static_cast<std::size_t>(comma - remaining) : std::strlen(remaining);
        char name[kLogNameSize] = {};
        std::memcpy(name, remaining, std::min<std::size_t>(length, kLogNameSize - 1));
        const char* message =
            createLogVar(root, prefix, name, sim.logMaxRows, sim.logDecimation,
                         sim.outputLogWidths[k], sim.fixedStepSize, &info.outputVars[k], out);
        if (message != nullptr) return message;
        remaining = comma != nullptr ? comma + 1 : remaining + length;
    }
    return nullptr;
}

void transposeToColumns(LogVar& var, int points, double* columns) {
    const int nCols = var.nCols;
    for (int row = 0; row < points; ++row) {
        const double* source = var.data + static_cast<std::size_t>(row) * nCols;
        for (int col = 0; col < nCols; ++col) {
            columns[static_cast<std::size_t>(col) * points + row] = source[col];
        }
    }
}

// Once the buffer has wrapped, row rowIndex is the oldest: rotating each column left
// by rowIndex puts the rows in time order, in place.
void rotateColumnsOldestFirst(LogVar& var, int points) {
    for (int col = 0; col < var.nCols; ++col) {
        double* column = var.data + static_cast<std::size_t>(col) * points;
        std::rotate(column, column + var.rowIndex, column + points);
    }
}

struct WriteOutcome {
    bool wroteData = false;
    bool failed = false;
};

WriteOutcome writeVariables(const LogInfo& info, const char* fileName, std::FILE* file,
                            std::FILE* out, std::FILE* err) {
    WriteOutcome outcome;
    for (LogVar* var = info.variables; var != nullptr; var = var->next) {
        if (const char* message = finishLogVar(*var, out)) {
            std::fprintf(err, "*** Error writing %s due to: %s", fileName, message);
            outcome.failed = true;
            break;
        }
        if (var->nDataPoints <= 0) continue;
        outcome.wroteData = true;
        const int rows = var->wrapCount > 0 ? var->nRows : var->nDataPoints;
        if (!writeMatrixRecord(file, var->name, rows, var->nCols, var->data)) {
            std::fprintf(err, "*** Error writing %s: %s\n", fileName, std::strerror(errno));
            outcome.failed = true;
            break;
        }
    }
    return outcome;
}

}  // namespace

const char* startLogging(BlockRecord& root, const char* prefix, std::FILE* out) {
    SimInfo& sim = *root.simInfo;
    auto* info = new (std::nothrow) LogInfo;
    if (info == nullptr) return kLogMemoryError;
    sim.logInfo = info;

    const int maxRows = sim.logMaxRows;
    const int decimation = sim.logDecimation;
    const double sampleTime = sim.fixedStepSize;
    const int stateWidth = root.contStateCount + root.discStateCount;
    const char* message = nullptr;
    if (!isEmptyName(sim.timeLogName)) {
        message = createLogVar(root, prefix, sim.timeLogName, maxRows, decimation, 1, sampleTime,
                               &info->timeVar, out);
        if (message != nullptr) return message;
    }
    if (!isEmptyName(sim.stateLogName)) {
        message = createLogVar(root, prefix, sim.stateLogName, maxRows, decimation, stateWidth,
                               sampleTime, &info->stateVar, out);
        if (message != nullptr) return message;
    }
    if (!isEmptyName(sim.outputLogNames)) {
        message = createOutputVars(root, prefix, out);
        if (message != nullptr) return message;
    }
    if (!isEmptyName(sim.finalStateLogName)) {
        message = createLogVar(root, prefix, sim.finalStateLogName, 1, decimation, stateWidth,
                               sampleTime, &info->finalStateVar, out);
    }
    return message;
}

const char* logStep(BlockRecord& root) {
    SimInfo& sim = *root.simInfo;
    const LogInfo* info = sim.logInfo;
    if (info == nullptr) return nullptr;
    if (info->timeVar != nullptr) updateLogVar(*info->timeVar, sim.taskTimes);
    if (info->stateVar != nullptr) updateLogVar(*info->stateVar, root.stateVector);
    std::size_t offset = 0;
    for (int k = 0; k < info->outputVarCount; ++k) {
        LogVar* var = info->outputVars[k];
        if (var == nullptr) continue;
        updateLogVar(*var, root.outputVector != nullptr ? root.outputVector + offset : nullptr);
        offset += static_cast<std::size_t>(var->nCols);
    }
    return nullptr;
}

void stopLogging(const char* fileName, BlockRecord& root, std::FILE* out, std::FILE* err) {
    SimInfo& sim = *root.simInfo;
    const LogInfo* info = sim.logInfo;
    if (info == nullptr || info->variables == nullptr) {
        releaseLogging(sim);
        return;
    }
    if (info->finalStateVar != nullptr) updateLogVar(*info->finalStateVar, root.stateVector);

    std::FILE* file = std::fopen(fileName, "wb");
    if (file == nullptr) {
        std::fprintf(err, "Error opening %s: %s\n", fileName, std::strerror(errno));
        releaseLogging(sim);
        return;
    }
    const WriteOutcome outcome = writeVariables(*info, fileName, file, out, err);
    releaseLogging(sim);
    // Buffered records reach the disk only here: a full disk shows up at the close.
    if (std::fclose(file) != 0 && outcome.wroteData && !outcome.failed) {
        std::fprintf(err, "*** Error writing %s: %s\n", fileName, std::strerror(errno));
    }
    if (!outcome.wroteData) {
        std::remove(fileName);
    } else {
        std::fprintf(out, "Created %s\n", fileName);
    }
}

void releaseLogging(SimInfo& sim) {
    LogInfo* info = sim.logInfo;
    if (info == nullptr) return;
    for (LogVar* var = info->variables; var != nullptr;) {
        LogVar* next = var->next;
        delete[] var->data;
        delete var;
        var = next;
    }
    delete[] info->outputVars;
    delete info;
    sim.logInfo = nullptr;
}

const char* createLogVar(BlockRecord& root, const char* prefix, const char* varName, int maxRows,
                         int decimation, int nCols, double sampleTime, LogVar** slot,
                         std::FILE* out) {
    SimInfo& sim = *root.simInfo;
    // Every update is a multiple of a non-positive decimation's period: log them all.
    if (decimation < 1) decimation = 1;
    double rows = 0.0;
    bool defaulted = false;
    if (sim.finalTime > 0.0 && std::isfinite(sim.finalTime)) {
        rows = rowsForFinalTime(sim, sampleTime, decimation);
        if (maxRows > 0 && maxRows < rows) rows = maxRows;
    } else if (maxRows > 0) {
        rows = maxRows;
    } else {
        rows = kDefaultLogRows;
        defaulted = true;
        std::fprintf(out, "*** Using a default buffer of size %d for log variable %s\n",
                     kDefaultLogRows, varName);
    }
    if (rows < 1.0) rows = 1.0;

    auto* var = new (std::nothrow) LogVar;
    if (var == nullptr) {
        std::fprintf(out, "*** Error allocating memory for log variable %s\n", varName);
        std::fprintf(out, "*** Details:\n       sizeof(LogVar)  = %ld\n",
                     static_cast<long>(sizeof(LogVar)));
        return kLogMemoryError;
    }
    std::snprintf(var->name, sizeof var->name, "%s%s", prefix, varName);
    var->data = allocateRows(rows, nCols);
    if (var->data == nullptr) {
        std::fprintf(out, "*** Error allocating memory for the circular buffer\n");
        std::fprintf(out,
                     "*** Details:\n       varName         = %s\n       nRows           = %.0f\n"
                     "       nCols           = %d\n       sizeof(NmxReal) = %ld\n",
                     varName, rows, nCols, static_cast<long>(sizeof(double)));
        delete var;
        return kLogMemoryError;
    }
    var->nRows = static_cast<int>(rows);
    var->usedDefaultSize = defaulted ? 1 : 0;
    var->decimation = decimation;
    var->nCols = nCols;
    appendToList(*sim.logInfo, var);
    *slot = var;
    return nullptr;
}

void updateLogVar(LogVar& var, const double* values) {
    if (++var.decimationCounter % var.decimation != 0) return;
    var.decimationCounter = 0;
    if (var.data == nullptr || values == nullptr) return;
    std::copy_n(values, var.nCols, var.data + static_cast<std::size_t>(var.rowIndex) * var.nCols);
    if (++var.rowIndex == var.nRows) {
        // From here on the oldest rows are overwritten.
        var.rowIndex = 0;
        ++var.wrapCount;
    }
}

const char* finishLogVar(LogVar& var, std::FILE* out) {
    const int points = var.wrapCount > 0 ? var.nRows : var.rowIndex;
    const long long dataPoints = static_cast<long long>(var.wrapCount) * var.nRows + var.rowIndex;
    var.nDataPoints = static_cast<int>(std::min<long long>(dataPoints, INT_MAX));
    if (points == 0) return nullptr;

    if (var.nCols > 1) {
        auto* columns = new (std::nothrow) double[static_cast<std::size_t>(points) *
                                                  static_cast<std::size_t>(var.nCols)];
        if (columns == nullptr) return kLogMemoryError;
        transposeToColumns(var, points, columns);
        delete[] var.data;
        var.data = columns;
    }
    if (var.wrapCount > 0 && var.rowIndex != 0) rotateColumnsOldestFirst(var, points);
    // Rows were lost whenever a defaulted buffer wrapped, even by a whole number of turns.
    if (var.wrapCount > 0 && var.usedDefaultSize) {
        std::fprintf(out, "*** Log variable %s has wrapped %d times using a buffer size of %d\n",
                     var.name, var.wrapCount, var.nRows);
        std::fprintf(out,
                     "*** To prevent wrapping, explicitly specify a buffer size of %d in your "
                     "Tessaline model.\n",
                     var.nDataPoints);
    }
    var.rowIndex = 0;
    return nullptr;
}

}  // namespace bm7
