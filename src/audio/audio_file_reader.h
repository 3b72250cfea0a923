// Reads one channel of an audio file as 16-bit samples at a chosen sample rate: any file
// libsndfile reads, resampled with libsoxr (high quality) when its rate differs. Samples
// pass as floats scaled to +-1 and are rounded back, so a 16-bit file at the chosen rate
// passes bit for bit and wider or float samples round to the nearest 16-bit value.
// A file too slow to hold the song band, or without the chosen channel, is refused as
// unsuitable; one that ends before its header says is read as far as it goes, with a
// warning.
#pragma once

#include <sndfile.h>
#include <soxr.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bm7 {

// Below this rate a recording cannot hold the song band (4.0-5.5 kHz).
inline constexpr int kLowestSampleRate = 11025;

// Why a file was not opened: it could not be read as audio at all, or it is audio that
// cannot serve (too low a rate, no such channel).
enum class AudioFileFailure { none, unreadable, unsuitable };

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
    // What the accessors below report stays after close, until the next open.
    void close();

    // The kind of the last open's failure.
    AudioFileFailure failure() const { return failure_; }
    // The open file, for its metadata; null when closed.
    SNDFILE* handle() const { return file_; }
    int fileSampleRate() const { return fileSampleRate_; }
    int fileChannels() const { return fileChannels_; }
    // The frames the file holds, as far as the library can tell before reading them.
    std::int64_t fileFrames() const { return fileFrames_; }
    // Frames of the file read so far.
    std::int64_t framesRead() const { return framesRead_; }
    // Set once the file has ended before the length its header announces; empty else.
    const std::string& warning() const { return warning_; }

private:
    std::size_t readDirect(std::int16_t* samples, std::size_t count);
    bool refill();
    void takeChannel(std::size_t frameCount);
    void keepSamples(const float* samples, std::size_t count);
    void noteFrames(sf_count_t frames, sf_count_t asked);
    bool refuse(AudioFileFailure kind, const std::string& text, std::string& problem);

    SNDFILE* file_ = nullptr;
    std::string path_;
    AudioFileFailure failure_ = AudioFileFailure::none;
    int fileSampleRate_ = 0;
    std::int64_t fileFrames_ = 0;
    std::int64_t announcedFrames_ = 0;
    std::int64_t framesRead_ = 0;
    std::string warning_;
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
