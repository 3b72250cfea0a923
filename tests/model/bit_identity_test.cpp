// Pins the detector's arithmetic bit for bit: every signal of a run over the bundled
// recording where it is read, and the bytes of the clips it saves, must stay exactly
// what they were when these digests were recorded. Any faster kernel or fused loop that
// rounds one value differently shows up here. The two clip windows are built only in
// frames where a clip run ends, the only frames that read them, so they are hashed
// there. The filters' spectrum products are read only by their inverse transforms,
// which may form them on the fly, so they are pinned through those transforms' outputs;
// so are the spectra's bins above the middle, the conjugates of those below, which the
// inverses may read in their stead. The inverses' upper halves are their scratch, read
// by nothing, and left out. Every other signal is hashed after every step.
#include <gtest/gtest.h>

#include <algorithm>
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
    0x77646bb78fe8e13fULL, 0x4188822558fb8df4ULL, 0x6d40e92a30f1f814ULL, 0x7137989c3b735a19ULL,
    0x3ade138d4c375073ULL, 0x91883d8750ea6f2cULL, 0x580e528745cbf8c0ULL, 0x731b1188e4c9ecc4ULL,
    0x254f7397a2c1e859ULL, 0x04851d9a3e1466eaULL, 0xd9000ccd584bbf8aULL, 0xdb4580df217534c8ULL,
    0x4aad8b045f68996dULL, 0x3b0b7fa4aabfc4aeULL,
};

// A run of the signal area that is left out of the digest.
struct Span {
    const double* first;
    const double* end;
};

// What each filter's inverse transform reads only through its product, in address
// order: the bins of the spectrum above the middle, real and imaginary parts, and the
// product, real parts then imaginary, which ends where the filter's inverse begins. With
// them goes the upper half of each inverse, the transform's scratch, which nothing reads.
std::vector<Span> unreadOrReadThroughProducts(const Signals& s) {
    std::vector<Span> spans;
    const auto add = [&](const double* spectrum, const double* productRe, const double* inverse) {
        const std::ptrdiff_t n = (productRe - spectrum) / 2;
        spans.push_back({spectrum + n / 2 + 1, spectrum + n});
        spans.push_back({spectrum + n + n / 2 + 1, spectrum + 2 * n});
        spans.push_back({productRe, inverse});
        spans.push_back({inverse + n, inverse + 2 * n});
    };
    add(s.band.spectrum, s.band.productRe, s.band.inverse);
    for (const auto* bank : {&s.stage1, &s.stage2})
        for (const detector::FilterSignals& f : *bank) add(f.spectrum, f.productRe, f.inverse);
    for (const detector::ModulationSignals* m : {&s.narrow, &s.wide})
        add(m->spectrum, m->productRe, m->inverse);
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.first < b.first; });
    return spans;
}

// Hashes [first, end) but for the sorted spans in `skipped`.
std::uint64_t hashAround(const double* first, const double* end, const std::vector<Span>& skipped,
                         std::uint64_t digest) {
    for (const Span& skip : skipped) {
        digest =
            fnv1a(first, static_cast<std::size_t>(skip.first - first) * sizeof(double), digest);
        first = skip.end;
    }
    return fnv1a(first, static_cast<std::size_t>(end - first) * sizeof(double), digest);
}

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
    std::vector<Span> everyStep = unreadOrReadThroughProducts(s);
    const std::vector<Span> atClipEnds = everyStep;
    everyStep.push_back({s.clipAudioWindow, windowsEnd});
    std::sort(everyStep.begin(), everyStep.end(),
              [](const Span& a, const Span& b) { return a.first < b.first; });
    std::uint64_t digest = 0xcbf29ce484222325ULL;
    double previousLastGate = 0.0;
    int framesWithClipEnds = 0;
    for (int step = 1; step <= kSteps; ++step) {
        run.step();
        ASSERT_EQ(run.root().errorStatus, nullptr) << run.root().errorStatus;
        const bool clipEnds = clipRunEnds(previousLastGate, s.clipGate);
        digest = hashAround(area, areaEnd, clipEnds ? atClipEnds : everyStep, digest);
        if (clipEnds) ++framesWithClipEnds;
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
