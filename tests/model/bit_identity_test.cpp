// Pins the detector's arithmetic bit for bit: every signal of a run over the bundled
// recording where it is read, and the bytes of the clips it saves, must stay exactly
// what they were when these digests were recorded. Any faster kernel or fused loop that
// rounds one value differently shows up here. The two clip windows are built only in
// frames where a clip run ends, the only frames that read them, so they are hashed
// there; every other signal after every step.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "detector_harness.h"

namespace bm7::testing {
namespace {

using detector::kClipWindowLength;
using detector::Signals;

// The whole bundled recording: 140 frames, several song bouts and clips.
constexpr int kSteps = 140;
constexpr int kCheckpointEvery = 10;

std::uint64_t fnv1a(const void* data, std::size_t size,
                    std::uint64_t hash = 0xcbf29ce484222325ULL) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::vector<std::int16_t> demoRecording() {
    const char* source = std::getenv("BM7_SOURCE_DIR");
    const std::string root = source != nullptr ? source : ".";
    return readWave(root + "/data/demo.wav");
}

// Name and content digest of every clip, in name order.
std::map<std::string, std::uint64_t> clipDigests(const ScratchDirectory& scratch) {
    std::map<std::string, std::uint64_t> digests;
    const std::filesystem::path calls = scratch.path() / "Calls";
    for (const auto& entry : std::filesystem::directory_iterator(calls)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Dick_", 0) != 0) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), {}};
        digests[name] = fnv1a(bytes.data(), bytes.size());
    }
    return digests;
}

// A running digest over the signals after every step, read every tenth step, so a
// failure says within ten steps where the first difference arose.
constexpr std::uint64_t kCheckpoints[kSteps / kCheckpointEvery] = {
    0xd2ea088ccbdf53a8ULL, 0xf8bcef00d4c3e16bULL, 0x2d7e330c457baccaULL, 0x11c354fb1658a601ULL,
    0x898d0e5c7d277e12ULL, 0x11e5b1af03a958d0ULL, 0x88b65518941c57b9ULL, 0x9178fd4604c7c1b1ULL,
    0x588403cfb68cdbc1ULL, 0x28b774721f201a9eULL, 0x5ba69c9275e06087ULL, 0x61ccbf4a10acbc0eULL,
    0x880d000c3e4432c1ULL, 0xeadabd11b7ba4b9aULL,
};

bool isOn(double value) {
    return value < 0.0 || value > 0.0;
}

// Whether a run of the clip gate ends in this frame, given the previous frame's last
// gate sample: the frames in which Clip & Save reads its windows.
bool clipRunEnds(double previousLast, const double* gate) {
    bool before = isOn(previousLast);
    for (int i = 0; i < kFrame; ++i) {
        const bool on = isOn(gate[i]);
        if (before && !on) return true;
        before = on;
    }
    return false;
}

TEST(DetectorArithmetic, EveryStepOfTheDemoRunKeepsEverySignalBitForBit) {
    const std::vector<std::int16_t> samples = demoRecording();
    ASSERT_GE(samples.size(), static_cast<std::size_t>(kSteps) * kFrame);
    SteppedDetector run(samples);
    const Signals& s = run.model().signals();
    const double* area = run.model().signalArea();
    const double* areaEnd = area + run.model().signalAreaSize();
    const double* windowsEnd = s.clipGateWindow + kClipWindowLength;
    ASSERT_EQ(s.clipGateWindow, s.clipAudioWindow + kClipWindowLength);
    const auto bytesBetween = [](const double* first, const double* end) {
        return static_cast<std::size_t>(end - first) * sizeof(double);
    };
    std::uint64_t digest = 0xcbf29ce484222325ULL;
    double previousLastGate = 0.0;
    int framesWithClipEnds = 0;
    for (int step = 1; step <= kSteps; ++step) {
        run.step();
        ASSERT_EQ(run.root().errorStatus, nullptr) << run.root().errorStatus;
        digest = fnv1a(area, bytesBetween(area, s.clipAudioWindow), digest);
        digest = fnv1a(windowsEnd, bytesBetween(windowsEnd, areaEnd), digest);
        if (clipRunEnds(previousLastGate, s.clipGate)) {
            digest = fnv1a(s.clipAudioWindow, bytesBetween(s.clipAudioWindow, windowsEnd), digest);
            ++framesWithClipEnds;
        }
        previousLastGate = s.clipGate[kFrame - 1];
        if (step % kCheckpointEvery != 0) continue;
        EXPECT_EQ(digest, kCheckpoints[step / kCheckpointEvery - 1])
            << "a signal differs after one of the steps " << step - kCheckpointEvery + 1 << " to "
            << step;
    }
    EXPECT_EQ(framesWithClipEnds, 5);
}

TEST(DetectorArithmetic, TheDemoRunSavesTheSameClipsByteForByte) {
    const std::vector<std::int16_t> samples = demoRecording();
    ASSERT_GE(samples.size(), static_cast<std::size_t>(kSteps) * kFrame);
    SteppedDetector run(samples);
    for (int step = 0; step < kSteps; ++step) run.step();
    const std::map<std::string, std::uint64_t> expected = {
        {"Dick_000.00.04_00.wav", 0x0165af5abcd65ffcULL},
        {"Dick_000.00.14_00.wav", 0xe56a1dbac1eb5433ULL},
        {"Dick_000.00.22_00.wav", 0x4acdbf0d7fd61753ULL},
        {"Dick_000.00.32_00.wav", 0x0179075d3e1875ffULL},
        {"Dick_000.00.45_00.wav", 0x001914cc83454968ULL},
    };
    EXPECT_EQ(clipDigests(run.scratch()), expected);
}

}  // namespace
}  // namespace bm7::testing
