// The detector's finished gate runs, reported with their scores to whoever runs the
// model. The tracker only reads signals, after they are computed, in the step: it keeps
// a few fields and fixed buffers and never allocates, so it changes no bit of the model.
#pragma once

#include <cstdint>
#include <string>

#include "model/parameters.h"

namespace bm7::detector {

struct Detection {
    // Stream sample indices of the base-rate clip gate run [gateBegin, gateEnd); the
    // run's audio is [gateBegin - kClipAudioDelay, gateEnd - kClipAudioDelay).
    std::int64_t gateBegin;
    std::int64_t gateEnd;
    // The largest narrow/wide modulation-energy ratio over the run's samples judged from
    // audio (see DetectorModel::noteAudioEnd), held at the base rate as the song test is;
    // NaN values are ignored, NaN when there was none.
    double songRatio;
    // The largest currentEnergy over the same samples.
    double peakEnergy;
    // The clip Clip & Save saved for this run, as it named it; empty when none.
    const char* clipName;
};

// Called on the model's thread: from a step's update once Clip & Save has run, or from
// terminate for a run still open. Must not throw.
class DetectionListener {
public:
    virtual ~DetectionListener() = default;
    virtual void detected(const Detection& detection) = 0;
    // The stamp of a clip whose audio begins at stream sample `firstAudioSample` (negative
    // near the start of the stream); empty keeps Clip & Save's own stamp.
    virtual std::string clipStamp(std::int64_t /*firstAudioSample*/) { return {}; }
    // Whether Clip & Save still announces each clip on standard output.
    virtual bool announceClips() const { return true; }
};

// Follows the clip gate frame by frame and reports each run when it ends.
class DetectionTracker {
public:
    void reset();
    // The recognizer's ratios of the current frame, one per stage-2 sample.
    double* frameRatios() { return ratios_; }
    // Clip & Save saved `name` for the run that ended at stream sample `gateEnd`.
    void noteClip(std::int64_t gateEnd, const char* name);
    // The step's gate and energy, once Clip & Save has run, for the frame whose first
    // sample is stream sample `frameStart`. Only the first `judgedSamples` samples score:
    // after them the signals are the padding's that follows the audio.
    void trackFrame(std::int64_t frameStart, const double* clipGate, const double* currentEnergy,
                    int judgedSamples, DetectionListener& listener);
    // Reports a run still open when the stream ends before stream sample `streamEnd`.
    void finish(std::int64_t streamEnd, DetectionListener& listener);

private:
    static constexpr int kClipSlots = 8;        // far more clips than one frame can end
    static constexpr int kClipNameSize = 2048;  // directory and prefix are cut to 511 each

    const char* clipFor(std::int64_t gateEnd) const;
    void report(std::int64_t gateEnd, DetectionListener& listener);

    double ratios_[kStage2Length] = {};
    bool open_ = false;
    std::int64_t gateBegin_ = 0;
    double songRatio_ = 0.0;
    double peakEnergy_ = 0.0;
    int clipCount_ = 0;
    std::int64_t clipEnds_[kClipSlots] = {};
    char clipNames_[kClipSlots][kClipNameSize] = {};
};

}  // namespace bm7::detector
