#include "wave_in_harness.h"

#include "audio/sound_input.h"
#include "audio/wave_in.h"

namespace bm7::testing {

WaveInHarness::WaveInHarness(const WaveInParams& params, CaptureLayer* layer) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        paramRuns_[i] = {1.0, 1.0, params[i]};
        params_[i].run = paramRuns_[i].data();
    }
    simInfo_.taskTimes = &taskTime_;
    simInfo_.sampleHits = &sampleHit_;
    block_.name = "S-Function";
    block_.path = "brakmoor7/WaveIn/S-Function";
    block_.errorRecord = &block_;
    block_.outputPorts = &port_;
    block_.paramCount = static_cast<int>(params_.size());
    block_.params = params_.data();
    block_.integerWork = integerWork_;
    block_.pointerWork = pointerWork_;
    block_.simInfo = &simInfo_;
    block_.samplePeriods = &period_;
    block_.sampleOffsets = &offset_;
    block_.sampleTimeTaskIds = &taskId_;
    registerWaveIn(&block_);
    block_.methods.initializeSizes(&block_);
    block_.methods.initializeSampleTimes(&block_);
    frame_.assign(static_cast<std::size_t>(port_.width), 0.0);
    port_.signal = frame_.data();
    placeCaptureLayer(block_, layer);
}

RunOutcome runWaveIn(WaveInHarness& harness,
                     const std::function<void(const double* frame, int width)>& onFrame,
                     int maxFrames, const std::function<void()>& afterStart) {
    BlockRecord& block = harness.block();
    RunOutcome outcome;
    callStart(block);
    if (block.errorStatus == nullptr && afterStart) afterStart();
    while (block.errorStatus == nullptr && harness.simInfo().stopRequested == 0 &&
           (maxFrames == 0 || outcome.frames < maxFrames)) {
        callOutputs(block, 0);
        if (block.errorStatus != nullptr) break;
        onFrame(harness.frame(), harness.frameWidth());
        ++outcome.frames;
    }
    if (block.errorStatus == nullptr) callTerminate(block);
    if (block.errorStatus != nullptr) {
        outcome.exitStatus = 1;
        outcome.message = block.errorStatus;
        if (CaptureLayer* layer = captureLayerOf(block)) layer->reset();
        releaseBuffers(block);
    }
    return outcome;
}

}  // namespace bm7::testing
