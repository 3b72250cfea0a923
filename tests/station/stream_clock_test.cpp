#include "station/stream_clock.h"

#include <gtest/gtest.h>

#include <random>

namespace bm7::station {
namespace {

constexpr double kRate = 22050.0;
constexpr int kFrame = 8192;

// Frames arrive late by a random delivery delay, sometimes several at once after a stall;
// the clock must still place samples within a few milliseconds of when they were recorded.
TEST(StreamClock, LateAndBunchedArrivalsStillGiveTheRecordingTime) {
    const double streamStart = 1796760000.0;
    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> delay(0.001, 0.040);
    StreamClock clock(kRate);
    for (int frame = 1; frame <= 2000; ++frame) {
        const std::int64_t captured = static_cast<std::int64_t>(frame) * kFrame;
        double arrival = streamStart + captured / kRate + delay(random);
        if (frame % 500 == 0) arrival += 3.0;  // a stall: the queue fills, then drains
        clock.noteArrival(captured, arrival);
    }
    const std::int64_t sample = 1999LL * kFrame;
    EXPECT_NEAR(clock.unixSecondsOf(sample), streamStart + sample / kRate, 0.005);
}

// A sound card whose clock runs 100 ppm slow drifts 8.6 s a day against the system clock;
// the estimate follows it instead of keeping the first minute's offset.
TEST(StreamClock, FollowsDriftOfTheSoundCardsClock) {
    const double streamStart = 1796760000.0;
    const double cardRate = kRate * (1.0 - 100e-6);
    StreamClock clock(kRate);
    const int framesPerDay = static_cast<int>(86400 * kRate / kFrame);
    for (int frame = 1; frame <= framesPerDay; ++frame) {
        const std::int64_t captured = static_cast<std::int64_t>(frame) * kFrame;
        clock.noteArrival(captured, streamStart + captured / cardRate + 0.002);
    }
    const std::int64_t last = static_cast<std::int64_t>(framesPerDay) * kFrame;
    EXPECT_NEAR(clock.unixSecondsOf(last), streamStart + last / cardRate, 0.05);
}

TEST(StreamClock, ARestartForgetsTheTimeBeforeAGap) {
    StreamClock clock(kRate);
    clock.noteArrival(kFrame, 1000.0 + kFrame / kRate);
    clock.restart();
    EXPECT_FALSE(clock.known());
    clock.noteArrival(2 * kFrame, 5000.0);  // the device came back an hour later
    EXPECT_NEAR(clock.unixSecondsOf(2 * kFrame), 5000.0, 1e-9);
}

}  // namespace
}  // namespace bm7::station
