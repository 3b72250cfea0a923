// A scan worker's maker of report media: it keeps the latest audio of the recording the
// worker is streaming, and when the detector reports a finished detection it makes the
// detection's spectrogram (and WAVE file) from that audio with kMarginSeconds on each
// side, cut at the recording's edges. One per worker thread; nothing is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report/audio_history.h"
#include "report/detection_media.h"

namespace bm7::report {

// Enough for a detection of several seconds with its margins and the detector's delay.
inline constexpr std::size_t kDefaultHistorySamples = std::size_t{1} << 18;

class RecordingMediaMaker {
public:
    explicit RecordingMediaMaker(std::string reportFolder,
                                 std::size_t historySamples = kDefaultHistorySamples);

    // Forgets the previous recording's audio.
    void startRecording();
    // The recording's next samples (22050 Hz, scaled to +-1), in stream order, as the
    // model is fed them.
    void append(const double* samples, std::size_t count);

    // Makes the media of the detection whose audio is stream samples
    // audioBegin ... audioEnd - 1 of a recording of `recordingLength` samples (the
    // margins stop there, not in the silence a scan appends). A detection longer than
    // the history loses its start. See DetectionMediaMaker::make for the rest.
    bool make(const std::string& stem, std::int64_t audioBegin, std::int64_t audioEnd,
              std::int64_t recordingLength, bool writeAudio, Detection& detection,
              std::string& problem);

private:
    AudioHistory history_;
    DetectionMediaMaker maker_;
    std::vector<double> excerpt_;
};

}  // namespace bm7::report
