#include "blocks/upsample_hold.h"

#include "blocks/phase_arrays.h"

namespace bm7 {
namespace {

using Source = const double* const*;

int frameLength(const BlockRecord& block) {
    return paramInt(block, 0);
}
int factor(const BlockRecord& block) {
    return paramInt(block, 1);
}
int inputCount(const BlockRecord& block) {
    return paramCols(block, 2);
}

void initializeSizes(BlockRecord* block) {
    block->paramCountExpected = 3;
    block->contStateCount = 0;
    block->discStateCount = 0;
    const int inputs = inputCount(*block);
    block->inputCount = inputs;
    if (inputs < 0) return;
    block->outputCount = 1;
    for (int j = 0; j < inputs; ++j) block->inputPorts[j].width = frameLength(*block);
    block->outputPorts[0].width = factor(*block) * frameLength(*block);
    if (inputs > 0) block->inputPorts[0].directFeedthrough = 1;
    block->sampleTimeCount = 1;
    block->pointerWorkCount = 2;
    block->realWorkCount = 0;
    block->integerWorkCount = 0;
    block->modeCount = 0;
}

void initializeConditions(BlockRecord* block) {
    allocatePhaseArrays(*block, inputCount(*block), 2, sizeof(Source));
}

// Inputs are placed in port order: the cursor moves to the next input only when the
// current one's phase is reached, so a phase out of order leaves later inputs unused.
void outputs(BlockRecord* block, int) {
    const int* phases = phasesOf(*block);
    if (!phases) return;
    Source* sources = static_cast<Source*>(block->pointerWork[0]);
    const int inputs = inputCount(*block);
    for (int j = 0; j < inputs; ++j) sources[j] = block->inputPorts[j].elementPointers;
    const int length = frameLength(*block);
    const int upFactor = factor(*block);
    double* out = block->outputPorts[0].signal;
    double held = 0.0;
    for (int i = 0; i < length; ++i) {
        int next = 0;
        for (int j = 0; j < upFactor; ++j) {
            if (next < inputs && j == phases[next]) {
                held = *sources[next][i];
                ++next;
            }
            out[i * upFactor + j] = held;
        }
    }
}

void terminate(BlockRecord* block) {
    freeAddressArray(*block);
    freePhaseArray(*block);
}

}  // namespace

void registerUpsampleHold(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = initializeConditions;
    methods.outputs.byRecord = outputs;
    methods.terminate = terminate;
}

}  // namespace bm7
