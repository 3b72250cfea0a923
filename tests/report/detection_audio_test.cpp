// The detection's WAVE file: read back by an independent reader, samples rounded and
// saturated as 16-bit audio.
#include "report/detection_audio.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <vector>

#include "support/scratch_directory.h"

namespace bm7::report {
namespace {

TEST(DetectionAudio, ReadsBackAs16BitMonoAtItsRate) {
    bm7::testing::ScratchDirectory scratch;
    const std::string path = scratch / "detection.wav";
    const std::vector<double> samples{0.0, 0.5, -0.5, 1.0, -1.0, 2.0, -2.0, 100.0 / 32768, 0.00001};
    DetectionAudioWriter writer;
    std::string problem;
    ASSERT_TRUE(writer.write(samples.data(), samples.size(), 22050.0, path, problem)) << problem;

    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.samplerate, 22050);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<short> read(samples.size() + 1);
    EXPECT_EQ(sf_read_short(file, read.data(), sf_count_t(read.size())),
              sf_count_t(samples.size()));
    sf_close(file);
    const std::vector<short> expected{0, 16384, -16384, 32767, -32768, 32767, -32768, 100, 0};
    read.resize(samples.size());
    EXPECT_EQ(read, expected);
}

TEST(DetectionAudio, NotANumberIsWrittenAsSilence) {
    EXPECT_EQ(toSample16(std::nan("")), 0);
}

}  // namespace
}  // namespace bm7::report
