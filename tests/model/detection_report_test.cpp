// The detection report: every gate run of a run over a recording, whole, with the
// scores the signals give and the clip Clip & Save saved for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "detector_harness.h"
#include "support/file_contents.h"

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
    explicit SignalLog(std::size_t audioLength = SIZE_MAX) : audioLength_(audioLength) {}
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
            if (n >= audioLength_ && n - audioLength_ >= detector::kBandPowerDelay) continue;
            const double ratio = ratios_[n / 64];
            if (!std::isnan(ratio) && !(ratio <= run.songRatio)) run.songRatio = ratio;
            run.peakEnergy = std::max(run.peakEnergy, energy_[n]);
        }
        return found;
    }

private:
    std::size_t audioLength_;
    std::vector<double> gate_;
    std::vector<double> energy_;
    std::vector<double> ratios_;
};

std::vector<std::int16_t> demoRecording() {
    return readWave(std::string(BM7_SOURCE_DIR) + "/data/demo.wav");
}

// Steps to the end of the stream (the silence after the recording included).
SignalLog runToEnd(SteppedDetector& run, std::size_t audioLength = SIZE_MAX) {
    SignalLog log(audioLength);
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
    for (double t = 2.0; t < 2.0 + seconds; t += 0.3)
        addPulsedNote(signal, t, 0.15, 4700, 67, 0.25);
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

// The silence fed after a recording completes a run under way but starts none, once the
// detector's delayed view of the audio has passed its end: the padding's near-zero
// energies once made onsets there, with absurd song ratios and no audio in their clips.
class TheEndOfARecording : public ::testing::Test {
protected:
    static std::vector<Reported> runsOver(const std::vector<std::int16_t>& recording,
                                          SignalLog* log = nullptr) {
        Recorder recorder;
        {
            SteppedDetector run(recording, &recorder, false);
            const SignalLog stepped = runToEnd(run, recording.size());
            if (log != nullptr) *log = stepped;
        }
        return recorder.runs;
    }

    static void expectRunsOfAudio(const std::vector<Reported>& runs, std::size_t length,
                                  const std::string& what) {
        for (const Reported& run : runs) {
            EXPECT_LT(run.gateBegin - kClipAudioDelay, static_cast<long>(length)) << what;
            EXPECT_GT(run.peakEnergy, 0.0) << what << " at " << run.gateBegin;
            EXPECT_LT(run.songRatio, 2.0) << what << " at " << run.gateBegin;
        }
    }
};

TEST_F(TheEndOfARecording, StartsNoRunInTheSilenceAfterItAndScoresOnlyItsAudio) {
    const std::vector<std::int16_t> demo = demoRecording();
    std::vector<std::int16_t> five;
    for (int k = 0; k < 5; ++k) five.insert(five.end(), demo.begin(), demo.end());
    // Minutes of history left the padding's energies just off zero: the whole of these
    // once ended in a run started in the padding, and the first cut in a song scored
    // from the padding (a ratio of 8, where songs score below 1).
    for (std::size_t end : {std::size_t{5569892}, std::size_t{5655355}, five.size()}) {
        const std::vector<std::int16_t> cut(five.begin(), five.begin() + long(end));
        SignalLog log;
        const std::vector<Reported> runs = runsOver(cut, &log);
        expectRunsOfAudio(runs, cut.size(), "cut at " + std::to_string(end));
        expectSameRuns(runs, log.runs());
        if (end == five.size()) {
            EXPECT_EQ(runs.size(), 25U);
        }
    }
}

// A run wholly before the end, whatever the recording holds after it, is the same run
// with the same clip: the end of a recording changes only what reaches into the padding.
TEST_F(TheEndOfARecording, LeavesTheRunsAndClipsBeforeItAsTheyWere) {
    const std::vector<std::int16_t> demo = demoRecording();
    Recorder wholeRuns;
    std::vector<std::string> wholeClips;
    {
        SteppedDetector run(demo, &wholeRuns);
        runToEnd(run);
        for (const Reported& r : wholeRuns.runs) wholeClips.push_back(fileContents(r.clip));
    }
    ASSERT_EQ(wholeRuns.runs.size(), 5U);
    // Cut two seconds after the fourth run's audio ends: the fifth song is gone.
    const auto end = std::size_t(wholeRuns.runs[3].gateEnd - kClipAudioDelay + 2 * kRate);
    Recorder cutRuns;
    SteppedDetector run(std::vector<std::int16_t>(demo.begin(), demo.begin() + long(end)),
                        &cutRuns);
    runToEnd(run);
    ASSERT_EQ(cutRuns.runs.size(), 4U);
    expectSameRuns(cutRuns.runs, {wholeRuns.runs.begin(), wholeRuns.runs.begin() + 4});
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_EQ(fileContents(cutRuns.runs[k].clip), wholeClips[k]);
}

}  // namespace
}  // namespace bm7::testing
