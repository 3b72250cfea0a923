#include "audio/wave_in.h"

#include <algorithm>

#include "audio/sound_input.h"

namespace bm7 {

namespace {

constexpr int kParamCount = 6;

void initializeSizes(BlockRecord* block) {
    const SoundInputConfig config = readSoundInputConfig(*block);
    block->paramCountExpected = kParamCount;
    block->contStateCount = 0;
    block->discStateCount = 0;
    block->inputCount = 0;
    block->outputCount = 1;
    block->outputPorts[0].width = config.channels * config.frameSize;
    block->sampleTimeCount = 1;
    block->integerWorkCount = kAudioSamplesSlot + 1;
    block->realWorkCount = 0;
    block->pointerWorkCount = kSoundInputSlotCount;
    block->childCount = 0;
    block->modeCount = 0;
}

void initializeSampleTimes(BlockRecord* block) {
    const SoundInputConfig config = readSoundInputConfig(*block);
    block->samplePeriods[0] = static_cast<double>(config.frameSize) / config.sampleRate;
    block->sampleOffsets[0] = 0.0;
}

// The wait was interrupted before the frame came: the step still runs, on silence rather
// than on a repeat of the last frame, and is the run's last.
void endOnSilence(BlockRecord& block) {
    const OutputPort& port = block.outputPorts[0];
    std::fill(port.signal, port.signal + port.width, 0.0);
    block.integerWork[kAudioSamplesSlot] = 0;
    block.simInfo->stopRequested = 1;
}

void start(BlockRecord* block) {
    startSoundInput(*block);
}

void outputs(BlockRecord* block, int /*task*/) {
    CaptureBuffer* buffer = takeFilledBuffer(*block);
    if (buffer == nullptr) {
        if (block->errorRecord->errorStatus == nullptr) endOnSilence(*block);
        return;
    }
    const SoundInputConfig config = readSoundInputConfig(*block);
    convertBuffer(config, *buffer, block->outputPorts[0].signal);
    block->integerWork[kAudioSamplesSlot] = audioFramesIn(config, *buffer);
    if ((buffer->flags & kBufferEndOfStream) != 0) block->simInfo->stopRequested = 1;
    recycleBuffer(*block, buffer);
}

void terminate(BlockRecord* block) {
    stopSoundInput(*block);
}

}  // namespace

int audioSamplesInFrame(const BlockRecord& waveIn) {
    return waveIn.integerWork[kAudioSamplesSlot];
}

void registerWaveIn(BlockRecord* block) {
    block->methods.initializeSizes = initializeSizes;
    block->methods.initializeSampleTimes = initializeSampleTimes;
    block->methods.start = start;
    block->methods.outputs.byRecord = outputs;
    block->methods.terminate = terminate;
}

}  // namespace bm7
