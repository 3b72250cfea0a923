#include "report/recording_media.h"

#include <algorithm>
#include <cmath>

namespace bm7::report {

namespace {

const std::int64_t kMarginSamples = std::llround(kMarginSeconds * kSpectrogramSampleRate);

}  // namespace

RecordingMediaMaker::RecordingMediaMaker(std::string reportFolder, std::size_t historySamples)
    : history_(historySamples), maker_(std::move(reportFolder)), excerpt_(historySamples) {}

void RecordingMediaMaker::startRecording() {
    history_.restart();
}

void RecordingMediaMaker::append(const double* samples, std::size_t count) {
    history_.append(samples, count);
}

bool RecordingMediaMaker::make(const std::string& stem, std::int64_t audioBegin,
                               std::int64_t audioEnd, std::int64_t recordingLength, bool writeAudio,
                               Detection& detection, std::string& problem) {
    const std::int64_t begin = std::clamp<std::int64_t>(audioBegin, 0, recordingLength);
    const std::int64_t end = std::clamp<std::int64_t>(audioEnd, begin, recordingLength);
    std::int64_t copiedFrom = 0;
    const std::size_t count =
        history_.copy(std::max<std::int64_t>(0, begin - kMarginSamples),
                      std::min(recordingLength, end + kMarginSamples), excerpt_.data(), copiedFrom);
    if (count == 0) {
        problem = "the detection's audio has already passed";
        return false;
    }
    const auto at = [&](std::int64_t position) {
        return static_cast<std::size_t>(
            std::clamp<std::int64_t>(position - copiedFrom, 0, static_cast<std::int64_t>(count)));
    };
    return maker_.make(stem, excerpt_.data(), count, at(begin), at(end), writeAudio, detection,
                       problem);
}

}  // namespace bm7::report
