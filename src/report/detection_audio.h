// A detection's audio as a short 16-bit mono WAVE file, for a report whose scan saved
// no clips: the page plays it in place of the clip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bm7::report {

class DetectionAudioWriter {
public:
    // `samples` are scaled to +-1 and rounded to 16 bits, saturating at full scale. The
    // file is written whole or not at all; on failure `problem` says why.
    bool write(const double* samples, std::size_t count, double sampleRate,
               const std::string& wavPath, std::string& problem);

private:
    std::string bytes_;
};

std::int16_t toSample16(double sample);

}  // namespace bm7::report
