// The block record: the one structure through which the driver, the model and every
// block meet. A block kind is a set of method functions that read and write only
// through the record they are given; one registration function per kind fills the
// method table. Records, ports, parameters and storage live for the whole run.
#pragma once

#include <string>

namespace bm7 {

struct BlockRecord;
struct TimingState;
struct LogInfo;

// A parameter is a flat run of doubles: rows, cols, then rows x cols values.
// A text parameter is a 1 x N row of character codes without terminator.
struct ParamValue {
    const double* run = nullptr;
};

// Style 2 input port: each element is fetched through its own pointer. A block may note
// in `run`, once at initializeConditions, that the elements are one contiguous run
// (contiguousRun), and then read them from there.
struct InputPort {
    int width = 0;
    int directFeedthrough = 0;
    const double* const* elementPointers = nullptr;
    const double* run = nullptr;
};

// Style 2 output port: the block writes `width` contiguous doubles at `signal`.
struct OutputPort {
    int width = 0;
    double* signal = nullptr;
};

// The run-wide record shared by every BlockRecord.
struct SimInfo {
    double* taskTimes = nullptr;  // entry 0 is the current model time
    int* sampleHits = nullptr;    // 1 = the rate runs in the current step
    double startTime = 0.0;
    double finalTime = 0.0;  // 0.0 = no limit
    TimingState* timingEngine = nullptr;
    int timingReady = 0;
    int stopRequested = 0;
    const char* solverName = nullptr;
    double nextTime = 0.0;
    double fixedStepSize = 0.0;
    const char* timeLogName = "";
    const char* stateLogName = "";
    const char* outputLogNames = "";  // comma-separated
    const char* finalStateLogName = "";
    const int* outputLogWidths = nullptr;
    int logMaxRows = 0;  // 0 = no limit
    int logDecimation = 1;
    LogInfo* logInfo = nullptr;
};

// Method signatures. Style 2 kinds pass the record alone; style 1 kinds (Real FFT,
// Real IFFT, Zero Pad) also pass the vectors held in the record.
using BlockMethod = void (*)(BlockRecord* block);
using TaskMethod = void (*)(BlockRecord* block, int task);
using VectorConditionsMethod = void (*)(double* state, BlockRecord* block);
using VectorOutputsMethod = void (*)(double* out, double* state, const double* const* in,
                                     BlockRecord* block, int task);

// initializeConditions and outputs exist in both styles. A kind fills the form of its
// own style and leaves the other null; a slot with both forms null is a null slot.
struct ConditionsSlot {
    BlockMethod byRecord = nullptr;
    VectorConditionsMethod withVectors = nullptr;
    explicit operator bool() const { return byRecord || withVectors; }
};

struct OutputsSlot {
    TaskMethod byRecord = nullptr;
    VectorOutputsMethod withVectors = nullptr;
    explicit operator bool() const { return byRecord || withVectors; }
};

// The eight slots, in slot order. Null means the kind has no such method; an empty
// method is a filled slot that does nothing, and is still called.
struct MethodTable {
    BlockMethod initializeSizes = nullptr;
    BlockMethod initializeSampleTimes = nullptr;
    ConditionsSlot initializeConditions;
    BlockMethod start = nullptr;
    OutputsSlot outputs;
    TaskMethod update = nullptr;
    BlockMethod derivatives = nullptr;
    BlockMethod terminate = nullptr;
};

struct BlockRecord {
    const char* name = nullptr;
    const char* path = nullptr;
    BlockRecord* root = nullptr;
    BlockRecord* errorRecord = nullptr;
    const char* errorStatus = nullptr;  // only the root's slot is used
    int contStateCount = 0;
    int discStateCount = 0;
    int outputCount = 0;  // style 2: ports; style 1: width of the output vector
    int inputCount = 0;   // style 2: ports; style 1: width of the input vector
    int directFeedthrough = 0;
    int sampleTimeCount = 0;
    int paramCountExpected = 0;
    int integerWorkCount = 0;
    int realWorkCount = 0;
    int pointerWorkCount = 0;
    int childCount = 0;
    int modeCount = 0;
    InputPort* inputPorts = nullptr;
    OutputPort* outputPorts = nullptr;
    int paramCount = 0;
    const ParamValue* params = nullptr;
    const double* const* inputPointers = nullptr;
    const double* inputRun = nullptr;  // style 1: as InputPort::run, for inputPointers
    double* outputVector = nullptr;
    double* stateVector = nullptr;
    double* discreteStates = nullptr;
    int* integerWork = nullptr;
    double* realWork = nullptr;
    void** pointerWork = nullptr;
    int* modes = nullptr;
    SimInfo* simInfo = nullptr;
    double* samplePeriods = nullptr;
    double* sampleOffsets = nullptr;
    int* sampleTimeTaskIds = nullptr;
    MethodTable methods;
    BlockRecord** children = nullptr;
};

// Parameter readers. Integer parameters round half up, floor(x + 0.5), and are read
// afresh at each use; counts of rows and columns are truncated.
int paramRows(const BlockRecord& block, int index);
int paramCols(const BlockRecord& block, int index);
const double* paramValues(const BlockRecord& block, int index);
double paramReal(const BlockRecord& block, int index, int element = 0);
int paramInt(const BlockRecord& block, int index, int element = 0);
int roundHalfUp(double value);
// The characters of a text parameter: `cols` codes, one per double.
std::string paramText(const BlockRecord& block, int index);

// The first element when the `width` pointers address consecutive doubles, else null.
// Reading the run directly gives the same values without a pointer load per element.
const double* contiguousRun(const double* const* elements, int width);
// Sets InputPort::run of each of the block's input ports.
void findInputRuns(BlockRecord& block);

// True when the rate of the block's first sample time runs in the current step.
bool rateHits(const BlockRecord& block);

// Stores a message of static lifetime in the error slot of the block's error record;
// a later report replaces an earlier one.
void reportError(BlockRecord& block, const char* message);

// Calls a slot in the form of the kind's style. Each does nothing for a null slot.
void callInitializeConditions(BlockRecord& block);
void callStart(BlockRecord& block);
void callOutputs(BlockRecord& block, int task);
void callUpdate(BlockRecord& block, int task);
void callTerminate(BlockRecord& block);

// The initializeSampleTimes of a kind that runs at whatever rate it is given: period
// -1.0 and offset 1.0 (inherited), which the registration then replaces.
void inheritSampleTime(BlockRecord* block);

// Empty methods for slots that must be filled but do nothing.
void emptyMethod(BlockRecord* block);
void emptyTaskMethod(BlockRecord* block, int task);
void emptyVectorConditions(double* state, BlockRecord* block);

}  // namespace bm7
