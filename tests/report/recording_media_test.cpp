// A scan worker's media of a detection: cut from the recording's latest audio with
// half a second on each side, never beyond the recording's edges.
#include "report/recording_media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/scratch_directory.h"

namespace bm7::report {
namespace {

constexpr std::int64_t kMargin = 11025;

class RecordingMedia : public ::testing::Test {
protected:
    // Feeds `length` samples of a recording, then the scan's trailing silence.
    void stream(std::int64_t length) {
        maker.startRecording();
        const std::vector<double> frame(8192, 0.01);
        for (std::int64_t fed = 0; fed < length + 6 * 8192; fed += 8192)
            maker.append(frame.data(), frame.size());
    }
    // Samples in the detection's WAVE file.
    std::int64_t wavSamples() const {
        return static_cast<std::int64_t>(std::filesystem::file_size(scratch / detection.audioFile) -
                                         44) /
               2;
    }
    bool make(std::int64_t begin, std::int64_t end, std::int64_t length) {
        return maker.make("media/rec/000", begin, end, length, true, detection, problem);
    }

    bm7::testing::ScratchDirectory scratch;
    RecordingMediaMaker maker{scratch.path().string()};
    Detection detection;
    std::string problem;
};

TEST_F(RecordingMedia, TheDetectionComesWithHalfASecondOnEachSide) {
    stream(200000);
    ASSERT_TRUE(make(100000, 130000, 200000)) << problem;
    EXPECT_EQ(detection.imageFile, "media/rec/000.png");
    EXPECT_EQ(detection.audioFile, "media/rec/000.wav");
    EXPECT_EQ(wavSamples(), 30000 + 2 * kMargin);
}

TEST_F(RecordingMedia, MarginsStopAtTheRecordingsEdges) {
    stream(100000);
    ASSERT_TRUE(make(-3000, 5000, 100000)) << problem;
    EXPECT_EQ(wavSamples(), 5000 + kMargin) << "nothing before the start";
    ASSERT_TRUE(make(95000, 100000, 100000)) << problem;
    EXPECT_EQ(wavSamples(), 5000 + kMargin) << "nothing of the silence after the end";
}

TEST_F(RecordingMedia, AudioThatHasPassedIsReported) {
    stream(kDefaultHistorySamples * 2);
    EXPECT_FALSE(make(1000, 2000, kDefaultHistorySamples * 2));
    EXPECT_FALSE(problem.empty());
    EXPECT_TRUE(detection.imageFile.empty());
}

}  // namespace
}  // namespace bm7::report
