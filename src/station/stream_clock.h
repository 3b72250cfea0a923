// Puts wall-clock times on stream samples. Audio reaches the model late, never early:
// the system clock when a frame arrives, minus the audio captured up to it, bounds from
// above when the stream's first sample was recorded. The least bound over the last
// minute or two is the estimate, so delays in delivery and buffers waiting in the queue
// drop out, while drift of the sound card's clock against the system's is followed.
#pragma once

#include <cstdint>

namespace bm7::station {

class StreamClock {
public:
    explicit StreamClock(double sampleRate) : sampleRate_(sampleRate) {}

    // `samplesCaptured` samples of the stream had been recorded by `unixSeconds`.
    void noteArrival(std::int64_t samplesCaptured, double unixSeconds);
    // Forget the past after a gap in the stream (a lost device), whose audio the stream
    // stamps do not count.
    void restart() { known_ = false; }
    bool known() const { return known_; }
    // Unix time of a stream sample, in seconds.
    double unixSecondsOf(std::int64_t sample) const;

private:
    static constexpr int kWindowArrivals = 128;  // about 48 s of frames

    double sampleRate_;
    bool known_ = false;
    double earlierWindowStart_ = 0.0;  // least bound of the previous window
    double windowStart_ = 0.0;         // least bound of the window being filled
    int windowArrivals_ = 0;
};

}  // namespace bm7::station
