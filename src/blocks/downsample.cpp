#include "blocks/downsample.h"

#include "blocks/phase_arrays.h"

namespace bm7 {
namespace {

const char* const kBadFactor = "Downsample: the factor must be at least 1";
const char* const kBadPhase = "Downsample: a phase reaches outside the input frame";

int frameLength(const BlockRecord& block) {
    return paramInt(block, 0);
}
int factor(const BlockRecord& block) {
    return paramInt(block, 1);
}
int phaseCount(const BlockRecord& block) {
    return paramCols(block, 2);
}

int outputLength(const BlockRecord& block) {
    const int downFactor = factor(block);
    return downFactor >= 1 ? frameLength(block) / downFactor : 0;
}

void initializeSizes(BlockRecord* block) {
    block->paramCountExpected = 3;
    block->contStateCount = 0;
    block->discStateCount = 0;
    block->inputCount = 1;
    const int outputs = phaseCount(*block);
    block->outputCount = outputs;
    if (outputs < 0) return;
    block->inputPorts[0].width = frameLength(*block);
    for (int j = 0; j < outputs; ++j) block->outputPorts[j].width = outputLength(*block);
    block->inputPorts[0].directFeedthrough = 1;
    block->sampleTimeCount = 1;
    block->pointerWorkCount = 2;
    block->realWorkCount = 0;
    block->integerWorkCount = 0;
    block->modeCount = 0;
}

// A phase must keep every element it picks, up to the last one, inside the input frame.
bool phasesFit(const BlockRecord& block) {
    const int length = outputLength(block);
    if (length == 0) return true;
    const int lastStart = (length - 1) * factor(block);
    const int* phases = phasesOf(block);
    for (int j = 0; j < phaseCount(block); ++j)
        if (phases[j] < 0 || lastStart + phases[j] >= frameLength(block)) return false;
    return true;
}

void initializeConditions(BlockRecord* block) {
    if (!allocatePhaseArrays(*block, phaseCount(*block), 2, sizeof(double*))) return;
    if (factor(*block) < 1) {
        reportError(*block, kBadFactor);
    } else if (!phasesFit(*block)) {
        reportError(*block, kBadPhase);
    }
    InputPort& input = block->inputPorts[0];
    input.run = contiguousRun(input.elementPointers, input.width);
}

void outputs(BlockRecord* block, int) {
    const int* phases = phasesOf(*block);
    if (!phases) return;
    double** targets = static_cast<double**>(block->pointerWork[0]);
    const int outputs = phaseCount(*block);
    for (int j = 0; j < outputs; ++j) targets[j] = block->outputPorts[j].signal;
    const int length = outputLength(*block);
    const int downFactor = factor(*block);
    const double* const* in = block->inputPorts[0].elementPointers;
    const double* run = block->inputPorts[0].run;
    for (int j = 0; j < outputs; ++j) {
        double* out = targets[j];
        if (run != nullptr) {
            const double* picked = run + phases[j];
            for (int i = 0; i < length; ++i) out[i] = picked[i * downFactor];
        } else {
            const double* const* picked = in + phases[j];
            for (int i = 0; i < length; ++i) out[i] = *picked[i * downFactor];
        }
    }
}

void terminate(BlockRecord* block) {
    freePhaseArray(*block);
    freeAddressArray(*block);
}

}  // namespace

void registerDownsample(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = initializeConditions;
    methods.outputs.byRecord = outputs;
    methods.terminate = terminate;
}

}  // namespace bm7
