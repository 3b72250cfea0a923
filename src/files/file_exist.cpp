#include "files/file_exist.h"

#include <cstdio>

#include "files/text_param.h"

namespace bm7 {

namespace {

void initializeSizes(BlockRecord* block) {
    block->paramCountExpected = kFileExistParamCount;
    block->contStateCount = 0;
    block->discStateCount = 0;
    block->sampleTimeCount = 1;
    block->integerWorkCount = 0;
    block->realWorkCount = 0;
    block->pointerWorkCount = 0;
    block->inputCount = 0;
    block->outputCount = 1;
    block->outputPorts[0].width = 1;
}

void initializeSampleTimes(BlockRecord* block) {
    block->samplePeriods[0] = paramReal(*block, kProbePeriod);
    block->sampleOffsets[0] = 0.0;
}

void outputs(BlockRecord* block, int) {
    TextBuffer name;
    const char* probed = readTextParam(*block, kProbedFileName, name);
    // No name, no probe: a scan stops by its own signals, not by a file.
    block->outputPorts[0].signal[0] = *probed != '\0' && fileExists(probed) ? 1.0 : 0.0;
}

}  // namespace

bool fileExists(const char* name) {
    std::FILE* file = std::fopen(name, "r");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

void registerFileExist(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = initializeSampleTimes;
    methods.outputs.byRecord = outputs;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
