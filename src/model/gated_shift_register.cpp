#include "model/gated_shift_register.h"

#include <algorithm>
#include <array>

#include "driver/frame_loop.h"
#include "model/frame_history.h"

namespace bm7 {
namespace {

enum Param { frameLengthParam, registerLengthParam, channelsParam, layoutParam, paramTotal };

enum Port { dataPort, gatePort };

void initializeSizes(BlockRecord* block) {
    const int frameLength = paramInt(*block, frameLengthParam);
    const int channels = paramInt(*block, channelsParam);
    block->paramCountExpected = paramTotal;
    block->contStateCount = 0;
    block->discStateCount = channels * paramInt(*block, registerLengthParam);
    block->inputCount = 2;
    block->inputPorts[dataPort].width = channels * frameLength;
    block->inputPorts[dataPort].directFeedthrough = 1;
    block->inputPorts[gatePort].width = frameLength;
    block->inputPorts[gatePort].directFeedthrough = 0;
    block->outputCount = 1;
    block->outputPorts[0].width = channels * frameLength;
    block->sampleTimeCount = 1;
    block->realWorkCount = 0;
    block->integerWorkCount = 1;
    block->pointerWorkCount = 0;
    block->modeCount = 0;
}

void initializeConditions(BlockRecord* block) {
    const int registerLength = paramInt(*block, registerLengthParam);
    if (registerLength < 1) {
        reportError(*block, "Gated Shift Register: the register length must be at least 1");
        return;
    }
    block->integerWork[0] = 0;
    std::fill_n(block->discreteStates, paramInt(*block, channelsParam) * registerLength, 0.0);
    findInputRuns(*block);
}

// One channel with both inputs in contiguous runs, as in the detector: between two gates
// the output holds one value, so it is written a run at a time. A gate of NaN is no gate.
int shiftSingleRun(BlockRecord& block, int frameLength, int registerLength, int position) {
    const double* data = block.inputPorts[dataPort].run;
    const double* gate = block.inputPorts[gatePort].run;
    double* output = block.outputPorts[0].signal;
    double* slots = block.discreteStates;
    int sample = 0;
    while (sample < frameLength) {
        const int next = firstSampleWhere(
            sample, frameLength, 0, 1, [gate](int element) { return isOn(gate[element]); },
            std::array{gate});
        std::fill(output + sample, output + next, slots[position]);
        if (next == frameLength) break;
        slots[position] = data[next];
        if (++position == registerLength) position = 0;
        output[next] = slots[position];
        sample = next + 1;
    }
    return position;
}

// A gate writes the slot the position points at and advances it, so the slot read next
// is the one written L gates ago, or, for L = 1, the one just written.
void outputs(BlockRecord* block, int) {
    const int frameLength = paramInt(*block, frameLengthParam);
    const int registerLength = paramInt(*block, registerLengthParam);
    const int channels = paramInt(*block, channelsParam);
    if (registerLength < 1) return;
    const FrameLayout layout =
        FrameLayout::of(paramInt(*block, layoutParam) != 0, frameLength, channels);
    const double* const* data = block->inputPorts[dataPort].elementPointers;
    const double* const* gate = block->inputPorts[gatePort].elementPointers;
    double* output = block->outputPorts[0].signal;
    double* slots = block->discreteStates;
    int position = block->integerWork[0] % registerLength;
    if (position < 0) position += registerLength;
    if (channels == 1 && block->inputPorts[dataPort].run != nullptr &&
        block->inputPorts[gatePort].run != nullptr) {
        block->integerWork[0] = shiftSingleRun(*block, frameLength, registerLength, position);
        return;
    }
    for (int sample = 0; sample < frameLength; ++sample) {
        if (isOn(*gate[sample])) {
            double* written = slots + position * channels;
            if (++position == registerLength) position = 0;
            for (int k = 0; k < channels; ++k) written[k] = *data[layout.at(sample, k)];
        }
        const double* oldest = slots + position * channels;
        for (int k = 0; k < channels; ++k) output[layout.at(sample, k)] = oldest[k];
    }
    block->integerWork[0] = position;
}

}  // namespace

void registerGatedShiftRegister(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = initializeConditions;
    methods.outputs.byRecord = outputs;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
