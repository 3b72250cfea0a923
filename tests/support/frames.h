// Test helpers for frame-based blocks: long per-channel signals cut into frames of either
// layout and the block outputs put back together, so that a run fed frame by frame can
// be compared with a computation over the whole signal.
#pragma once

#include <random>
#include <vector>

namespace bm7 {

using Channels = std::vector<std::vector<double>>;  // [channel][run sample]

inline Channels randomChannels(int channels, int length, unsigned seed, double low = -1.0,
                               double high = 1.0) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(low, high);
    Channels signal(channels, std::vector<double>(length));
    for (std::vector<double>& channel : signal)
        for (double& x : channel) x = value(random);
    return signal;
}

inline int elementOf(int sample, int channel, int frameLength, int channels, bool channelMajor) {
    return channelMajor ? channel * frameLength + sample : sample * channels + channel;
}

inline std::vector<double> frameOf(const Channels& signal, int frame, int frameLength,
                                   bool channelMajor) {
    const int channels = static_cast<int>(signal.size());
    std::vector<double> out(static_cast<std::size_t>(frameLength * channels));
    for (int k = 0; k < channels; ++k)
        for (int i = 0; i < frameLength; ++i)
            out[elementOf(i, k, frameLength, channels, channelMajor)] =
                signal[k][frame * frameLength + i];
    return out;
}

// A frame's values placed one element apart, and pointers to them: input elements that
// are not one run, which a block must read through their pointers. Not copyable, since
// the pointers refer to the object's own storage.
struct ScatteredFrame {
    explicit ScatteredFrame(const std::vector<double>& frame)
        : spread(2 * frame.size(), 0.0), elements(frame.size()) {
        for (std::size_t i = 0; i < frame.size(); ++i) {
            spread[2 * i] = frame[i];
            elements[i] = &spread[2 * i];
        }
    }
    // New values for the same elements.
    void assign(const std::vector<double>& frame) {
        for (std::size_t i = 0; i < frame.size(); ++i) spread[2 * i] = frame[i];
    }
    ScatteredFrame(const ScatteredFrame&) = delete;
    ScatteredFrame& operator=(const ScatteredFrame&) = delete;

    std::vector<double> spread;
    std::vector<const double*> elements;
};

inline void appendFrame(Channels& signal, const std::vector<double>& frame, int frameLength,
                        bool channelMajor) {
    const int channels = static_cast<int>(signal.size());
    for (int k = 0; k < channels; ++k)
        for (int i = 0; i < frameLength; ++i)
            signal[k].push_back(frame[elementOf(i, k, frameLength, channels, channelMajor)]);
}

}  // namespace bm7
