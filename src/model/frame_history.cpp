#include "model/frame_history.h"

#include <algorithm>

namespace bm7 {
namespace {

// The single-channel case over a contiguous run: the same slots, filled in blocks.
void storeRun(const FrameHistory& history, const double* run, int frameLength) {
    if (frameLength >= history.length) {
        std::copy_n(run + (frameLength - history.length), history.length, history.slots);
        return;
    }
    const int untilEnd = std::min(frameLength, history.length - history.position);
    std::copy_n(run, untilEnd, history.slots + history.position);
    std::copy_n(run + untilEnd, frameLength - untilEnd, history.slots);
}

}  // namespace

void storeNewest(const FrameHistory& history, const InputPort& port, FrameLayout layout,
                 int frameLength, int channel) {
    if (port.run != nullptr && history.channels == 1 && layout.sampleStride == 1) {
        if (history.length > 0 && frameLength > 0) storeRun(history, port.run, frameLength);
        return;
    }
    const double* const* input = port.elementPointers;
    double* slots = history.slots + channel;
    const int stride = layout.sampleStride;
    if (frameLength >= history.length) {
        int element = layout.at(frameLength - history.length, channel);
        for (int slot = 0; slot < history.length; ++slot, element += stride)
            slots[slot * history.channels] = *input[element];
        return;
    }
    int slot = history.position;
    int element = layout.at(0, channel);
    for (int sample = 0; sample < frameLength; ++sample, element += stride) {
        slots[slot * history.channels] = *input[element];
        if (++slot == history.length) slot = 0;
    }
}

int positionAfter(const FrameHistory& history, int frameLength) {
    if (frameLength >= history.length) return 0;
    return (history.position + frameLength) % history.length;
}

}  // namespace bm7
