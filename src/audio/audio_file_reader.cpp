#include "audio/audio_file_reader.h"

#include <cmath>

namespace bm7 {

namespace {

constexpr std::size_t kChunkFrames = 4096;
constexpr double kSixteenBitFullScale = 32768.0;

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

std::int16_t toSixteenBit(float value) {
    const double scaled = std::nearbyint(static_cast<double>(value) * kSixteenBitFullScale);
    if (scaled >= 32767.0) return 32767;
    if (scaled <= -32768.0) return -32768;
    return static_cast<std::int16_t>(scaled);
}

}  // namespace

AudioFileReader::~AudioFileReader() {
    close();
}

bool AudioFileReader::open(const std::string& path, int channel, double sampleRate,
                           std::string& problem) {
    close();
    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (file_ == nullptr) {
        problem = "Cannot read audio file " + quoted(path) + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
        problem = "Audio file " + quoted(path) + " holds no audio";
        close();
        return false;
    }
    if (channel > info.channels || channel < 0) {
        problem = "Audio file " + quoted(path) + " has " + std::to_string(info.channels) +
                  " channel(s), so it has no channel " + std::to_string(channel);
        close();
        return false;
    }
    fileChannels_ = info.channels;
    channelIndex_ = channel > 0 ? channel - 1 : 0;
    // Float files are read as integers scaled to full range, not truncated to -1, 0, 1.
    sf_command(file_, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    if (info.samplerate != sampleRate) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        resampler_ = soxr_create(info.samplerate, sampleRate, 1, &error, &io, &quality, nullptr);
        if (resampler_ == nullptr) {
            problem = "Cannot resample audio file " + quoted(path) + ": " + error;
            close();
            return false;
        }
        interleavedFloat_.resize(kChunkFrames * static_cast<std::size_t>(fileChannels_));
        channelFloat_.resize(kChunkFrames);
        const double ratio = sampleRate / info.samplerate;
        resampled_.resize(static_cast<std::size_t>(kChunkFrames * ratio) + kChunkFrames);
    } else {
        interleavedShort_.resize(kChunkFrames * static_cast<std::size_t>(fileChannels_));
    }
    return true;
}

std::size_t AudioFileReader::read(std::int16_t* samples, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        if (pendingPosition_ == pending_.size()) {
            if (!refill()) break;
            continue;
        }
        const std::size_t available = pending_.size() - pendingPosition_;
        const std::size_t take = available < count - done ? available : count - done;
        const std::int16_t* from = pending_.data() + pendingPosition_;
        for (std::size_t i = 0; i < take; ++i) samples[done + i] = from[i];
        pendingPosition_ += take;
        done += take;
    }
    return done;
}

void AudioFileReader::close() {
    if (resampler_ != nullptr) soxr_delete(resampler_);
    resampler_ = nullptr;
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    flushed_ = false;
    pending_.clear();
    pendingPosition_ = 0;
}

// Replaces the pending samples with the next chunk of the file; false at its end.
bool AudioFileReader::refill() {
    pending_.clear();
    pendingPosition_ = 0;
    if (file_ == nullptr) return false;
    if (resampler_ == nullptr) {
        const sf_count_t frames = sf_readf_short(file_, interleavedShort_.data(), kChunkFrames);
        if (frames <= 0) return false;
        takeChannel(static_cast<std::size_t>(frames));
        return true;
    }
    if (flushed_) return false;
    const sf_count_t frames = sf_readf_float(file_, interleavedFloat_.data(), kChunkFrames);
    const std::size_t frameCount = frames > 0 ? static_cast<std::size_t>(frames) : 0;
    takeChannel(frameCount);
    std::size_t consumed = 0;
    for (;;) {
        std::size_t used = 0;
        std::size_t produced = 0;
        // A null input tells the resampler the input has ended, so it drains its filter.
        const float* input = frameCount > 0 ? channelFloat_.data() + consumed : nullptr;
        const soxr_error_t error = soxr_process(resampler_, input, frameCount - consumed, &used,
                                                resampled_.data(), resampled_.size(), &produced);
        if (error != nullptr) return false;
        consumed += used;
        keepResampled(resampled_.data(), produced);
        if (frameCount == 0 && produced == 0) flushed_ = true;
        if (frameCount == 0 ? produced == 0
                            : consumed == frameCount && produced < resampled_.size()) {
            break;
        }
    }
    return true;
}

void AudioFileReader::takeChannel(std::size_t frameCount) {
    const std::size_t stride = static_cast<std::size_t>(fileChannels_);
    if (resampler_ == nullptr) {
        pending_.resize(frameCount);
        const short* from = interleavedShort_.data() + channelIndex_;
        for (std::size_t i = 0; i < frameCount; ++i) pending_[i] = from[i * stride];
    } else {
        const float* from = interleavedFloat_.data() + channelIndex_;
        for (std::size_t i = 0; i < frameCount; ++i) channelFloat_[i] = from[i * stride];
    }
}

void AudioFileReader::keepResampled(const float* resampled, std::size_t count) {
    const std::size_t start = pending_.size();
    pending_.resize(start + count);
    for (std::size_t i = 0; i < count; ++i) pending_[start + i] = toSixteenBit(resampled[i]);
}

}  // namespace bm7
