#include "driver/block.h"

#include <cmath>

namespace bm7 {

int roundHalfUp(double value) {
    return static_cast<int>(std::floor(value + 0.5));
}

int paramRows(const BlockRecord& block, int index) {
    return static_cast<int>(block.params[index].run[0]);
}

int paramCols(const BlockRecord& block, int index) {
    return static_cast<int>(block.params[index].run[1]);
}

const double* paramValues(const BlockRecord& block, int index) {
    return block.params[index].run + 2;
}

double paramReal(const BlockRecord& block, int index, int element) {
    return paramValues(block, index)[element];
}

int paramInt(const BlockRecord& block, int index, int element) {
    return roundHalfUp(paramReal(block, index, element));
}

std::string paramText(const BlockRecord& block, int index) {
    const int length = paramCols(block, index);
    const double* codes = paramValues(block, index);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    for (int i = 0; i < length; ++i)
        text[static_cast<std::size_t>(i)] = static_cast<char>(codes[i]);
    return text;
}

const double* contiguousRun(const double* const* elements, int width) {
    if (elements == nullptr || width <= 0) return nullptr;
    const double* first = elements[0];
    for (int i = 1; i < width; ++i) {
        if (elements[i] != first + i) return nullptr;
    }
    return first;
}

void findInputRuns(BlockRecord& block) {
    for (int port = 0; port < block.inputCount; ++port) {
        InputPort& input = block.inputPorts[port];
        input.run = contiguousRun(input.elementPointers, input.width);
    }
}

bool rateHits(const BlockRecord& block) {
    return block.simInfo->sampleHits[block.sampleTimeTaskIds[0]] != 0;
}

void reportError(BlockRecord& block, const char* message) {
    block.errorRecord->errorStatus = message;
}

void callInitializeConditions(BlockRecord& block) {
    const ConditionsSlot& slot = block.methods.initializeConditions;
    if (slot.withVectors) {
        slot.withVectors(block.stateVector, &block);
    } else if (slot.byRecord) {
        slot.byRecord(&block);
    }
}

void callStart(BlockRecord& block) {
    if (block.methods.start) block.methods.start(&block);
}

void callOutputs(BlockRecord& block, int task) {
    const OutputsSlot& slot = block.methods.outputs;
    if (slot.withVectors) {
        slot.withVectors(block.outputVector, block.stateVector, block.inputPointers, &block, task);
    } else if (slot.byRecord) {
        slot.byRecord(&block, task);
    }
}

void callUpdate(BlockRecord& block, int task) {
    if (block.methods.update) block.methods.update(&block, task);
}

void callTerminate(BlockRecord& block) {
    if (block.methods.terminate) block.methods.terminate(&block);
}

void inheritSampleTime(BlockRecord* block) {
    block->samplePeriods[0] = -1.0;
    block->sampleOffsets[0] = 1.0;
}

void emptyMethod(BlockRecord*) {}
void emptyTaskMethod(BlockRecord*, int) {}
void emptyVectorConditions(double*, BlockRecord*) {}

}  // namespace bm7
