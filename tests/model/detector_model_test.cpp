#include "model/detector_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "detector_harness.h"

namespace bm7::testing {
namespace {

using detector::Signals;

std::vector<std::string> clipNames(const ScratchDirectory& scratch) {
    std::vector<std::string> names;
    const std::filesystem::path calls = scratch.path() / "Calls";
    if (!std::filesystem::exists(calls)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(calls)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Dick_", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DetectorInSilence, RequestsResetForExactlyTheFirst9830SamplesAndNeverRisesOrFalls) {
    SteppedDetector run(std::vector<std::int16_t>(6 * kFrame, 0));
    std::vector<double> reset;
    for (int step = 0; step < 4; ++step) {
        run.step();
        const Signals& s = run.signals();
        reset.insert(reset.end(), s.resetRequest, s.resetRequest + kFrame);
        for (int i = 0; i < kFrame; ++i) {
            ASSERT_EQ(s.riseDetected[i], 0.0) << step << " " << i;
            ASSERT_EQ(s.fallDetected[i], 0.0) << step << " " << i;
        }
    }
    const auto firstClear = std::find(reset.begin(), reset.end(), 0.0) - reset.begin();
    EXPECT_EQ(firstClear, 9830);
    EXPECT_TRUE(std::all_of(reset.begin() + 9830, reset.end(), [](double r) { return r == 0.0; }));
}

TEST(DetectorInSilence, SavesNoClipAndLogsMinusInfinityAtTheFirstHour) {
    SteppedDetector run(std::vector<std::int16_t>(6 * kFrame, 0));
    for (int step = 0; step < 6; ++step) run.step();
    EXPECT_TRUE(clipNames(run.scratch()).empty());
    std::ifstream log(run.scratch() / "Calls/LogDick.txt");
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_EQ(line.size(), 24U + 1U + 5U);
    EXPECT_EQ(line.substr(24), " -inf ");
    EXPECT_FALSE(std::getline(log, line));
}

TEST(DetectorStop, AStopFileEndsTheRunAtTheNextCheck) {
    SteppedDetector run(std::vector<std::int16_t>(12 * kFrame, 0));
    for (int step = 0; step < 4; ++step) run.step();
    std::ofstream(run.scratch() / "stop.txt") << "stop";
    run.step();  // step 4: no check
    EXPECT_EQ(run.root().simInfo->stopRequested, 0);
    run.step();  // step 5: no check
    EXPECT_EQ(run.root().simInfo->stopRequested, 0);
    run.step();  // step 6: the check finds the file
    EXPECT_EQ(run.root().simInfo->stopRequested, 1);
}

}  // namespace
}  // namespace bm7::testing

namespace bm7::testing {
namespace {

// Short song notes every 0.8 s, then one more after a pause longer than the overload
// window: each note is one detection onset.
std::vector<std::int16_t> noteTrain(int notes, double spacingS, double pauseS) {
    const double lastS = 2.0 + (notes - 1) * spacingS + pauseS;
    const auto frames = static_cast<std::size_t>((lastS + 3.0) * kRate / kFrame) + 1;
    std::vector<double> signal = quietNoise(frames * kFrame, 7);
    for (int k = 0; k < notes; ++k) addPulsedNote(signal, 2.0 + k * spacingS, 0.15, 4700, 67, 0.25);
    addPulsedNote(signal, lastS, 0.15, 4700, 67, 0.25);
    return toPcm(signal);
}

struct Onset {
    long sample;
    bool valveOpen;
};

TEST(OverloadValve, ClosesAtThe25thOnsetWithin20SecondsAndOpensAfter20QuietSeconds) {
    const std::vector<std::int16_t> input = noteTrain(30, 0.8, 22.0);
    SteppedDetector run(input);
    std::vector<Onset> onsets;
    long gatedOnsets = 0;
    const long steps = static_cast<long>(input.size()) / kFrame;
    for (long step = 0; step < steps; ++step) {
        run.step();
        const Signals& s = run.signals();
        for (int i = 0; i < kFrame; ++i) {
            if (s.detectionOnset[i] == 0.0) continue;
            onsets.push_back({step * kFrame + i, s.valveOpen[i] != 0.0});
            if (s.clipGate[i] != 0.0) ++gatedOnsets;
        }
    }
    ASSERT_EQ(onsets.size(), 31U);
    for (std::size_t k = 0; k < 24; ++k) EXPECT_TRUE(onsets[k].valveOpen) << k;
    for (std::size_t k = 24; k < 30; ++k) EXPECT_FALSE(onsets[k].valveOpen) << k;
    EXPECT_TRUE(onsets[30].valveOpen);
    EXPECT_EQ(gatedOnsets, 25);
    // The 25th onset came within 20 s of the first.
    EXPECT_LT(onsets[24].sample - onsets[0].sample, 20 * kRate);
}

}  // namespace
}  // namespace bm7::testing

namespace bm7::testing {
namespace {

struct GateRun {
    long first;
    long length;
};

TEST(DetectorOnSong, SavesEachGateRunWithTheAudioCaptured15000SamplesEarlier) {
    const std::vector<std::int16_t> recording =
        readWave(std::string(BM7_SOURCE_DIR) + "/data/demo.wav");
    ASSERT_FALSE(recording.empty());
    SteppedDetector run(recording);
    std::vector<GateRun> gates;
    bool open = false;
    for (long step = 0; step < static_cast<long>(recording.size()) / kFrame; ++step) {
        run.step();
        const double* gate = run.signals().clipGate;
        for (int i = 0; i < kFrame; ++i) {
            if (gate[i] != 0.0 && !open) gates.push_back({step * kFrame + i, 0});
            if (gate[i] != 0.0) ++gates.back().length;
            open = gate[i] != 0.0;
        }
    }
    const std::vector<std::string> clips = clipNames(run.scratch());
    ASSERT_EQ(gates.size(), 5U);
    ASSERT_EQ(clips.size(), 5U);
    for (std::size_t k = 0; k < clips.size(); ++k) {
        const std::vector<std::int16_t> clip = readWave(run.scratch() / ("Calls/" + clips[k]));
        // A run that began before the 32768-sample window of the frame it ends in keeps
        // only the part inside that window.
        const long end = gates[k].first + gates[k].length;
        const long windowStart = ((end - 1) / kFrame + 1) * kFrame - 32768;
        const long saved = std::min(gates[k].length, end - windowStart);
        ASSERT_EQ(static_cast<long>(clip.size()), saved) << clips[k];
        const long from = end - saved - 15000;
        for (std::size_t j = 0; j < clip.size(); ++j) {
            const double captured = recording[static_cast<std::size_t>(from) + j] / 32768.0;
            ASSERT_EQ(clip[j], static_cast<std::int16_t>(std::floor(captured * 32767 + 0.5)))
                << clips[k] << " sample " << j;
        }
    }
}

}  // namespace
}  // namespace bm7::testing
