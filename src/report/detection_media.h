// Makes the files a report shows for one detection: its spectrogram and, when no clip
// holds its audio, a short WAVE file of what the spectrogram shows. One maker per
// worker thread; it owns its buffers, so a scan's workers make their detections' media
// in parallel without sharing anything.
#pragma once

#include <cstddef>
#include <string>

#include "report/detection_audio.h"
#include "report/report_data.h"
#include "report/spectrogram.h"

namespace bm7::report {

class DetectionMediaMaker {
public:
    // `reportFolder` must exist; the maker creates its subfolders.
    explicit DetectionMediaMaker(std::string reportFolder);

    // `samples` at 22050 Hz scaled to +-1 hold the detection at begin ... end - 1, with
    // up to kMarginSeconds of audio on each side. Writes `stem` (detectionMediaStem)
    // .png and, with `writeAudio`, .wav, and sets `detection`'s imageFile and audioFile
    // to them, each only once its file is written whole. On failure `problem` says why;
    // whatever was written stays usable.
    bool make(const std::string& stem, const double* samples, std::size_t count, std::size_t begin,
              std::size_t end, bool writeAudio, Detection& detection, std::string& problem);

private:
    std::string reportFolder_;
    SpectrogramRenderer renderer_;
    DetectionAudioWriter audioWriter_;
};

}  // namespace bm7::report
