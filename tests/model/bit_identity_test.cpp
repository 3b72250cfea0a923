// Pins the detector's arithmetic bit for bit: the signal area after every step of a run
// over the bundled recording, and the bytes of the clips it saves, must stay exactly
// what they were when these digests were recorded. Any faster kernel or fused loop that
// rounds one value differently shows up here.
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

// A running digest over the signal area after every step, read every tenth step, so a
// failure says within ten steps where the first difference arose.
constexpr std::uint64_t kCheckpoints[kSteps / kCheckpointEvery] = {
    0xfdf9a0cd4b30af48ULL, 0x2d6860678261dd70ULL, 0x52fddf76ee468277ULL, 0x2f842ec735b7208eULL,
    0x4526867fcb348e9aULL, 0xc99ce50a6cfc7c21ULL, 0x4cf4eff0a69b8e85ULL, 0x71525f29829edc10ULL,
    0x734449d296396a0dULL, 0x2b9a036df31f4629ULL, 0xd7202328f93f34c8ULL, 0x7f1f6e10d06aff92ULL,
    0x532c8954ee5b0e83ULL, 0xd708d4aaff97dc22ULL,
};

TEST(DetectorArithmetic, EveryStepOfTheDemoRunKeepsEverySignalBitForBit) {
    const std::vector<std::int16_t> samples = demoRecording();
    ASSERT_GE(samples.size(), static_cast<std::size_t>(kSteps) * kFrame);
    SteppedDetector run(samples);
    const std::size_t bytes = run.model().signalAreaSize() * sizeof(double);
    std::uint64_t digest = 0xcbf29ce484222325ULL;
    for (int step = 1; step <= kSteps; ++step) {
        run.step();
        ASSERT_EQ(run.root().errorStatus, nullptr) << run.root().errorStatus;
        digest = fnv1a(run.model().signalArea(), bytes, digest);
        if (step % kCheckpointEvery != 0) continue;
        ASSERT_EQ(digest, kCheckpoints[step / kCheckpointEvery - 1])
            << "a signal differs after one of the steps " << step - kCheckpointEvery + 1 << " to "
            << step;
    }
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
