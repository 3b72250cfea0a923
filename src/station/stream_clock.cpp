#include "station/stream_clock.h"

#include <algorithm>

namespace bm7::station {

void StreamClock::noteArrival(std::int64_t samplesCaptured, double unixSeconds) {
    const double streamStart = unixSeconds - static_cast<double>(samplesCaptured) / sampleRate_;
    if (!known_) {
        known_ = true;
        earlierWindowStart_ = windowStart_ = streamStart;
        windowArrivals_ = 1;
        return;
    }
    if (windowArrivals_ == kWindowArrivals) {
        earlierWindowStart_ = windowStart_;
        windowStart_ = streamStart;
        windowArrivals_ = 0;
    }
    windowStart_ = std::min(windowStart_, streamStart);
    ++windowArrivals_;
}

double StreamClock::unixSecondsOf(std::int64_t sample) const {
    return std::min(earlierWindowStart_, windowStart_) + static_cast<double>(sample) / sampleRate_;
}

}  // namespace bm7::station
