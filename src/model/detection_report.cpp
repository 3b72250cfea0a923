#include "model/detection_report.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "driver/frame_loop.h"

namespace bm7::detector {

namespace {

// Upsample & Hold repeats each stage-2 value over this many base samples, from phase 0.
constexpr int kHoldFactor = kFrameLength / kStage2Length;

}  // namespace

void DetectionTracker::reset() {
    open_ = false;
    clipCount_ = 0;
}

void DetectionTracker::noteClip(std::int64_t gateEnd, const char* name) {
    if (clipCount_ == kClipSlots) return;
    const auto slot = static_cast<std::size_t>(clipCount_++);
    clipEnds_[slot] = gateEnd;
    std::strncpy(clipNames_[slot], name, kClipNameSize - 1);
    clipNames_[slot][kClipNameSize - 1] = '\0';
}

const char* DetectionTracker::clipFor(std::int64_t gateEnd) const {
    for (int slot = 0; slot < clipCount_; ++slot) {
        if (clipEnds_[slot] == gateEnd) return clipNames_[slot];
    }
    return "";
}

void DetectionTracker::report(std::int64_t gateEnd, DetectionListener& listener) {
    open_ = false;
    listener.detected({gateBegin_, gateEnd, songRatio_, peakEnergy_, clipFor(gateEnd)});
}

void DetectionTracker::trackFrame(std::int64_t frameStart, const double* clipGate,
                                  const double* currentEnergy, int judgedSamples,
                                  DetectionListener& listener) {
    const auto opens = [clipGate](int i) { return isOn(clipGate[i]); };
    for (int i = 0; i < kFrameLength; ++i) {
        if (!open_) {
            // Nothing happens until the gate opens.
            i = firstSampleWhere(i, kFrameLength, 0, 1, opens, std::array{clipGate});
            if (i == kFrameLength) break;
        }
        if (!isOn(clipGate[i])) {
            if (open_) report(frameStart + i, listener);
            continue;
        }
        if (!open_) {
            open_ = true;
            gateBegin_ = frameStart + i;
            songRatio_ = std::numeric_limits<double>::quiet_NaN();
            peakEnergy_ = -std::numeric_limits<double>::infinity();
        }
        if (i >= judgedSamples) continue;
        const double ratio = ratios_[i / kHoldFactor];
        if (ratio > songRatio_ || (std::isnan(songRatio_) && !std::isnan(ratio))) {
            songRatio_ = ratio;
        }
        if (currentEnergy[i] > peakEnergy_) peakEnergy_ = currentEnergy[i];
    }
    clipCount_ = 0;
}

void DetectionTracker::finish(std::int64_t streamEnd, DetectionListener& listener) {
    if (open_) report(streamEnd, listener);
}

}  // namespace bm7::detector
