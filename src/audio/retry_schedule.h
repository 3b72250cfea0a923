// When a lost sound device is tried again, and when the wait for it is reported: the
// first try after firstDelay, each later one after twice the previous wait, at most
// longestDelay; a report every reportInterval of absence. Pure arithmetic on the
// caller's clock, so that the schedule of hours can be checked in microseconds.
#pragma once

#include <algorithm>
#include <chrono>

namespace bm7 {

struct ReconnectPolicy {
    std::chrono::steady_clock::duration firstDelay = std::chrono::seconds(5);
    std::chrono::steady_clock::duration longestDelay = std::chrono::seconds(60);
    std::chrono::steady_clock::duration reportInterval = std::chrono::hours(1);
};

class RetrySchedule {
public:
    using Clock = std::chrono::steady_clock;

    RetrySchedule(const ReconnectPolicy& policy, Clock::time_point lostAt)
        : policy_(policy), delay_(policy.firstDelay), nextReport_(lostAt + policy.reportInterval) {}

    // The wait before the next try; each call lengthens the one after.
    Clock::duration nextDelay() {
        const Clock::duration delay = delay_;
        delay_ = std::min(delay_ * 2, policy_.longestDelay);
        return delay;
    }

    // True once per report interval that has passed by `now`.
    bool reportDue(Clock::time_point now) {
        if (now < nextReport_) return false;
        while (nextReport_ <= now) nextReport_ += policy_.reportInterval;
        return true;
    }

private:
    ReconnectPolicy policy_;
    Clock::duration delay_;
    Clock::time_point nextReport_;
};

}  // namespace bm7
