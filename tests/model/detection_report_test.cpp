// The detection report: every gate run of a run over a recording, whole, with the
// scores the signals give and the clip Clip & Save saved for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "detector_harness.h"

namespace bm7::testing {
namespace {

using detector::Detection;
using detector::kClipAudioDelay;

constexpr long kClipWindow = 32768;

struct Reported {
    std::int64_t gateBegin;
    std::int64_t gateEnd;
    double songRatio;
    double peakEnergy;
    std::string clip;
};

class Recorder final : public detector::DetectionListener {
public:
    void detected(const Detection& d) override {
        runs.push_back({d.gateBegin, d.gateEnd, d.songRatio, d.peakEnergy, d.clipName});
    }
    std::vector<Reported> runs;
};

// What the signals of every step say the runs are, found over the whole stream at once.
class SignalLog {
public:
    void take(const detector::Signals& s) {
        gate_.insert(gate_.end(), s.clipGate, s.clipGate + kFrame);
        energy_.insert(energy_.end(), s.currentEnergy, s.currentEnergy + kFrame);
        for (int j = 0; j < detector::kStage2Length; ++j) {
            ratios_.push_back(s.narrow.energy[j] / s.wide.energy[j]);
        }
    }
    std::vector<Reported> runs() const {
        std::vector<Reported> found;
        for (std::size_t n = 0; n < gate_.size(); ++n) {
            if (gate_[n] == 0.0) continue;
            if (n == 0 || gate_[n - 1] == 0.0) found.push_back({long(n), 0, NAN, -INFINITY, ""});
            Reported& run = found.back();
            run.gateEnd = static_cast<std::int64_t>(n) + 1;
            const double ratio = ratios_[n / 64];
            if (!std::isnan(ratio) && !(ratio <= run.songRatio)) run.songRatio = ratio;
            run.peakEnergy = std::max(run.peakEnergy, energy_[n]);
        }
        return found;
    }

private:
    std::vector<double> gate_;
    std::vector<double> energy_;
    std::vector<double> ratios_;
};

std::vector<std::int16_t> demoRecording() {
    return readWave(std::string(BM7_SOURCE_DIR) + "/data/demo.wav");
}

// Steps to the end of the stream (the silence after the recording included).
SignalLog runToEnd(SteppedDetector& run) {
    SignalLog log;
    while (run.root().simInfo->stopRequested == 0 && run.root().errorStatus == nullptr) {
        run.step();
        log.take(run.signals());
    }
    return log;
}

void expectSameRuns(const std::vector<Reported>& reported, const std::vector<Reported>& expected) {
    ASSERT_EQ(reported.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(reported[k].gateBegin, expected[k].gateBegin) << k;
        EXPECT_EQ(reported[k].gateEnd, expected[k].gateEnd) << k;
        EXPECT_EQ(reported[k].songRatio, expected[k].songRatio) << k;
        EXPECT_EQ(reported[k].peakEnergy, expected[k].peakEnergy) << k;
    }
}

// The clip of a run holds the run's audio, cut to the window of the frame it ends in.
void expectClipHoldsTheRun(const Reported& run, const std::vector<std::int16_t>& recording) {
    ASSERT_FALSE(run.clip.empty());
    const std::vector<std::int16_t> clip = readWave(run.clip);
    const long windowStart = (run.gateEnd / kFrame + 1) * kFrame - kClipWindow;
    const long first = std::max<long>(run.gateBegin, windowStart) - kClipAudioDelay;
    ASSERT_EQ(static_cast<long>(clip.size()), run.gateEnd - kClipAudioDelay - first) << run.clip;
    for (std::size_t j = 0; j < clip.size(); ++j) {
        const long n = first + static_cast<long>(j);
        const std::int16_t captured =
            n >= 0 && n < static_cast<long>(recording.size()) ? recording[std::size_t(n)] : 0;
        ASSERT_EQ(clip[j], clipValue(captured)) << run.clip << " sample " << j;
    }
}

TEST(DetectionReport, ReportsEveryRunOfTheDemoWithItsScoresAndTheClipSavedForIt) {
    const std::vector<std::int16_t> recording = demoRecording();
    ASSERT_FALSE(recording.empty());
    Recorder recorder;
    std::unique_ptr<SteppedDetector> run = std::make_unique<SteppedDetector>(recording, &recorder);
    const SignalLog log = runToEnd(*run);
    expectSameRuns(recorder.runs, log.runs());
    ASSERT_EQ(recorder.runs.size(), 5U);
    // The clips are named and cut as a run of the program over the file names them.
    const char* names[] = {"Dick_000.00.04_00.wav", "Dick_000.00.14_00.wav",
                           "Dick_000.00.22_00.wav", "Dick_000.00.32_00.wav",
                           "Dick_000.00.45_00.wav"};
    for (std::size_t k = 0; k < recorder.runs.size(); ++k) {
        EXPECT_EQ(std::filesystem::path(recorder.runs[k].clip).filename(), names[k]);
        expectClipHoldsTheRun(recorder.runs[k], recording);
        EXPECT_GT(recorder.runs[k].songRatio, 0.5) << k;  // the song test passed in the run
    }
    run.reset();
    EXPECT_EQ(recorder.runs.size(), 5U);  // the end of the stream left no run open
}

// Song notes close enough together that the gate stays on for seconds.
std::vector<std::int16_t> longBout(double seconds, double totalS) {
    std::vector<double> signal = quietNoise(static_cast<std::size_t>(totalS * kRate), 11);
    for (double t = 2.0; t < 2.0 + seconds; t += 0.3) addPulsedNote(signal, t, 0.15, 4700, 67, 0.25);
    return toPcm(signal);
}

TEST(DetectionReport, ARunLongerThanTheClipWindowIsReportedWhole) {
    const std::vector<std::int16_t> recording = longBout(6.0, 12.0);
    Recorder recorder;
    SteppedDetector run(recording, &recorder);
    const SignalLog log = runToEnd(run);
    expectSameRuns(recorder.runs, log.runs());
    const auto longest = std::max_element(
        recorder.runs.begin(), recorder.runs.end(), [](const Reported& a, const Reported& b) {
            return a.gateEnd - a.gateBegin < b.gateEnd - b.gateBegin;
        });
    ASSERT_NE(longest, recorder.runs.end());
    EXPECT_GT(longest->gateEnd - longest->gateBegin, 2 * kClipWindow);
    expectClipHoldsTheRun(*longest, recording);
}

TEST(DetectionReport, ARunStillOpenWhenTheModelStopsIsReportedAtTerminateWithItsClipSoFar) {
    const std::vector<std::int16_t> recording = longBout(6.0, 12.0);
    Recorder recorder;
    auto run = std::make_unique<SteppedDetector>(recording, &recorder);
    SignalLog log;
    long steps = 0;
    bool gateOn = false;
    while (!gateOn) {
        ASSERT_LT(steps, static_cast<long>(recording.size()) / kFrame) << "the gate never opened";
        run->step();
        ++steps;
        log.take(run->signals());
        gateOn = run->signals().clipGate[kFrame - 1] != 0.0;
    }
    EXPECT_TRUE(recorder.runs.empty());
    run.reset();  // terminates the model, as a stop file or a signal would
    ASSERT_EQ(recorder.runs.size(), 1U);
    const std::vector<Reported> open = log.runs();
    EXPECT_EQ(recorder.runs[0].gateBegin, open.back().gateBegin);
    EXPECT_EQ(recorder.runs[0].gateEnd, steps * kFrame);
    EXPECT_EQ(recorder.runs[0].peakEnergy, open.back().peakEnergy);
    // Clip & Save keeps what was heard of the run (its scratch folder is gone with it
    // now), and the report names that clip.
    EXPECT_EQ(std::filesystem::path(recorder.runs[0].clip).filename(), "Dick_000.00.03_00.wav");
}

TEST(DetectionReport, WithoutFileOutputsEachRunIsReportedWithAnEmptyClipNameAndNothingIsWritten) {
    Recorder recorder;
    SteppedDetector run(demoRecording(), &recorder, false);
    runToEnd(run);
    ASSERT_EQ(recorder.runs.size(), 5U);
    for (const Reported& reported : recorder.runs) EXPECT_EQ(reported.clip, "");
    EXPECT_FALSE(std::filesystem::exists(run.scratch() / "Calls"));
}

}  // namespace
}  // namespace bm7::testing
