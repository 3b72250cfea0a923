#include "report/detection_audio.h"

#include <algorithm>
#include <cmath>

#include "report/media_file.h"

namespace bm7::report {

namespace {

constexpr std::size_t kHeaderBytes = 44;
// The RIFF size fields are 32 bits; a detection is seconds long, so this only guards.
constexpr std::size_t kMaxSamples = (0xFFFFFFFFu - kHeaderBytes) / 2;

void putLittle(std::string& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::int16_t toSample16(double sample) {
    if (std::isnan(sample)) return 0;
    return static_cast<std::int16_t>(std::clamp(std::round(sample * 32768.0), -32768.0, 32767.0));
}

bool DetectionAudioWriter::write(const double* samples, std::size_t count, double sampleRate,
                                 const std::string& wavPath, std::string& problem) {
    if (count > kMaxSamples) {
        problem = wavPath + ": too long for a WAVE file";
        return false;
    }
    const auto dataBytes = static_cast<std::uint32_t>(count * 2);
    const auto rate = static_cast<std::uint32_t>(std::lround(sampleRate));
    bytes_.clear();
    bytes_.append("RIFF");
    putLittle(bytes_, dataBytes + 36, 4);
    bytes_.append("WAVEfmt ");
    putLittle(bytes_, 16, 4);
    putLittle(bytes_, 1, 2);  // PCM
    putLittle(bytes_, 1, 2);  // mono
    putLittle(bytes_, rate, 4);
    putLittle(bytes_, rate * 2, 4);
    putLittle(bytes_, 2, 2);
    putLittle(bytes_, 16, 2);
    bytes_.append("data");
    putLittle(bytes_, dataBytes, 4);
    for (std::size_t i = 0; i < count; ++i)
        putLittle(bytes_, static_cast<std::uint16_t>(toSample16(samples[i])), 2);
    return writeMediaFile(wavPath, bytes_, problem);
}

}  // namespace bm7::report
