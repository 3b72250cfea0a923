// Reads one channel of an audio file as 16-bit samples at a chosen sample rate: any file
// libsndfile reads, resampled with libsoxr (high quality) when its rate differs. Samples
// pass as floats scaled to +-1 and are rounded back, so a 16-bit file at the chosen rate
// passes bit for bit and wider or float samples round to the nearest 16-bit value.
#pragma once

#include <sndfile.h>
#include <soxr.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bm7 {

class AudioFileReader {
public:
    AudioFileReader() = default;
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    // `channel` counts from 1; 0 means the first. On failure `problem` says why, naming
    // the file.
    bool open(const std::string& path, int channel, double sampleRate, std::string& problem);
    // Writes up to `count` samples; fewer only at the end of the file.
    std::size_t read(std::int16_t* samples, std::size_t count);
    void close();

private:
    std::size_t readDirect(std::int16_t* samples, std::size_t count);
    bool refill();
    void takeChannel(std::size_t frameCount);
    void keepSamples(const float* samples, std::size_t count);

    SNDFILE* file_ = nullptr;
    int fileChannels_ = 0;
    int channelIndex_ = 0;
    soxr_t resampler_ = nullptr;
    bool flushed_ = false;
    bool direct_ = false;
    std::vector<float> interleaved_;
    std::vector<float> channel_;
    std::vector<float> resampled_;
    std::vector<std::int16_t> pending_;
    std::size_t pendingPosition_ = 0;
};

}  // namespace bm7
