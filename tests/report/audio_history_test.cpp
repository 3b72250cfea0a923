// The audio history: what a worker can still hand over of a detection that has passed.
#include "report/audio_history.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace bm7::report {
namespace {

// The stream whose sample at position p is p.
std::vector<double> ramp(std::int64_t from, std::size_t count) {
    std::vector<double> samples(count);
    std::iota(samples.begin(), samples.end(), static_cast<double>(from));
    return samples;
}

std::vector<double> copied(const AudioHistory& history, std::int64_t first, std::int64_t last,
                           std::int64_t& from) {
    std::vector<double> out(static_cast<std::size_t>(last - first));
    out.resize(history.copy(first, last, out.data(), from));
    return out;
}

TEST(AudioHistory, FramesAppendedInPiecesComeBackInOrder) {
    AudioHistory history(1000);
    for (std::int64_t position = 0; position < 5000; position += 300) {
        const auto frame = ramp(position, 300);
        history.append(frame.data(), frame.size());
    }
    std::int64_t from = -1;
    EXPECT_EQ(copied(history, 4500, 4900, from), ramp(4500, 400));
    EXPECT_EQ(from, 4500);
}

TEST(AudioHistory, WhatHasPassedOrNotYetComeIsLeftOut) {
    AudioHistory history(1000);
    const auto frame = ramp(0, 2500);
    history.append(frame.data(), frame.size());  // longer than the ring
    EXPECT_EQ(history.oldest(), 1500);
    std::int64_t from = -1;
    EXPECT_EQ(copied(history, 1200, 1600, from), ramp(1500, 100));
    EXPECT_EQ(from, 1500);
    EXPECT_EQ(copied(history, 2400, 2700, from), ramp(2400, 100));
    EXPECT_TRUE(copied(history, 100, 200, from).empty());
}

TEST(AudioHistory, RestartForgetsTheLastRecording) {
    AudioHistory history(100);
    const auto frame = ramp(0, 50);
    history.append(frame.data(), frame.size());
    history.restart();
    EXPECT_EQ(history.end(), 0);
    std::int64_t from = -1;
    EXPECT_TRUE(copied(history, 0, 50, from).empty());
}

}  // namespace
}  // namespace bm7::report
