// What the frame-based state blocks share: where sample i of channel k lies in a frame of
// either layout, and (for Integrate and Delay) how the newest inputs of each frame are kept
// in a history of L slots that wraps when frames are shorter than L.
#pragma once

#include "driver/block.h"

namespace bm7 {

// Channel-major frames hold each channel's samples together; interleaved frames hold
// each sample's channels together.
struct FrameLayout {
    int sampleStride = 1;   // distance between consecutive samples of one channel
    int channelStride = 1;  // distance between channels of one sample

    static FrameLayout of(bool channelMajor, int frameLength, int channels) {
        return channelMajor ? FrameLayout{1, frameLength} : FrameLayout{channels, 1};
    }
    int at(int sample, int channel) const {
        return sample * sampleStride + channel * channelStride;
    }
};

// Slot m of channel k is slots[m * channels + k] whatever the frame layout. The position
// is the slot of the oldest sample while frames are shorter than the history.
struct FrameHistory {
    double* slots = nullptr;
    int length = 0;
    int channels = 0;
    int position = 0;
};

// Keeps one channel's newest inputs: a frame at least as long as the history fills it
// in order, oldest in slot 0; a shorter one is written on from the position, wrapping.
// A single-channel input that is one contiguous run (InputPort::run) is copied in blocks.
void storeNewest(const FrameHistory& history, const InputPort& input, FrameLayout layout,
                 int frameLength, int channel);

// The position once a frame has been stored.
int positionAfter(const FrameHistory& history, int frameLength);

}  // namespace bm7
