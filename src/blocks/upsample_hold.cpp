#include "blocks/upsample_hold.h"

#include <algorithm>

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
// The inputs in use are thus the longest first run whose phases rise inside a group of
// `factor` outputs; each holds from its phase to the next one's, the last into the next
// group, so every group is a few constant stretches.
void outputs(BlockRecord* block, int) {
    const int* phases = phasesOf(*block);
    if (!phases) return;
    Source* sources = static_cast<Source*>(block->pointerWork[0]);
    const int inputs = inputCount(*block);
    for (int j = 0; j < inputs; ++j) sources[j] = block->inputPorts[j].elementPointers;
    const int length = frameLength(*block);
    const int upFactor = factor(*block);
    if (upFactor < 1) return;  // no output
    int used = 0;
    while (used < inputs && phases[used] < upFactor &&
           phases[used] > (used == 0 ? -1 : phases[used - 1])) {
        ++used;
    }
    double* out = block->outputPorts[0].signal;
    double held = 0.0;
    for (int i = 0; i < length; ++i) {
        double* group = out + i * upFactor;
        int from = 0;
        for (int k = 0; k < used; ++k) {
            std::fill(group + from, group + phases[k], held);
            held = *sources[k][i];
            from = phases[k];
        }
        std::fill(group + from, group + upFactor, held);
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
