// A WaveIn block in a record of its own, and a run of it the way the driver runs a model:
// start, one outputs per step until the block asks the run to stop or an error is
// reported, then terminate. Shared by the tests and the capture probe.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "audio/capture_layer.h"
#include "driver/block.h"

namespace bm7::testing {

// channels, deinterleave, sample rate, bits per sample, frame size, buffer count
using WaveInParams = std::array<double, 6>;
inline constexpr WaveInParams kModelWaveIn = {1, 0, 22050, 16, 8192, 33};

class WaveInHarness {
public:
    WaveInHarness(const WaveInParams& params, CaptureLayer* layer);
    WaveInHarness(const WaveInHarness&) = delete;
    WaveInHarness& operator=(const WaveInHarness&) = delete;

    BlockRecord& block() { return block_; }
    SimInfo& simInfo() { return simInfo_; }
    const double* frame() const { return frame_.data(); }
    int frameWidth() const { return static_cast<int>(frame_.size()); }
    const char* error() const { return block_.errorStatus; }

private:
    std::array<std::array<double, 3>, 6> paramRuns_{};
    std::array<ParamValue, 6> params_{};
    OutputPort port_;
    std::vector<double> frame_;
    int integerWork_[1] = {0};
    void* pointerWork_[6] = {};
    double period_ = 0.0;
    double offset_ = 0.0;
    int taskId_ = 0;
    int sampleHit_ = 1;
    double taskTime_ = 0.0;
    SimInfo simInfo_;
    BlockRecord block_;
};

struct RunOutcome {
    int exitStatus = 0;
    std::string message;  // the error text of a failed run
    int frames = 0;
};

// Runs at most maxFrames steps (0: no limit), handing every frame to onFrame; afterStart,
// when given, runs once capture has started. After an error the capture is stopped and
// the buffers freed, as the end of the process would.
RunOutcome runWaveIn(WaveInHarness& harness,
                     const std::function<void(const double* frame, int width)>& onFrame,
                     int maxFrames = 0, const std::function<void()>& afterStart = {});

}  // namespace bm7::testing
