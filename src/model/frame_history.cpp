#include "model/frame_history.h"

namespace bm7 {

void storeNewest(const FrameHistory& history, const double* const* input, FrameLayout layout,
                 int frameLength, int channel) {
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
