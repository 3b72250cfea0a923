#include "audio/audio_file_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "audio/wave_chunk_check.h"
#include "driver/frame_loop.h"

namespace bm7 {

namespace {

constexpr std::size_t kChunkFrames = 4096;
constexpr double kSixteenBitFullScale = 32768.0;

// libsndfile reports a failed open through one global error, so two threads opening
// files at once could swap their messages.
std::mutex openLock;

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

SNDFILE* openFile(const std::string& path, SF_INFO& info, std::string& error) {
    const std::lock_guard<std::mutex> hold(openLock);
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) error = sf_strerror(nullptr);
    return file;
}

// The frames the header announces. libsndfile trusts the file's real length over a
// header that claims more, and only notes the claim in its log: for WAVE the data
// chunk's, as in "data : 2293760 (should be 100000)"; for AIFF the COMM frame count.
std::int64_t announcedFrames(SNDFILE* file, std::int64_t frames) {
    char log[16384] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    long long claimed = 0;
    long long actual = 0;
    constexpr const char kData[] = "\ndata : ";
    constexpr const char kComm[] = "Frame count read from 'COMM' chunk (";
    if (const char* at = std::strstr(log, kData);
        at != nullptr &&
        std::sscanf(at + sizeof kData - 1, "%lld (should be %lld)", &claimed, &actual) == 2) {
        const std::int64_t bytesPerFrame = actual / frames;
        if (bytesPerFrame > 0) return claimed / bytesPerFrame;
    }
    if (const char* at = std::strstr(log, kComm);
        at != nullptr && std::sscanf(at + sizeof kComm - 1, "%lld", &claimed) == 1) {
        return claimed;
    }
    return frames;
}

std::string framesText(std::int64_t frames, int sampleRate) {
    char text[96];
    std::snprintf(text, sizeof text, "%.3f s (%lld frames)", double(frames) / sampleRate,
                  static_cast<long long>(frames));
    return text;
}

std::int16_t toSixteenBit(float value) {
    const double scaled = std::nearbyint(static_cast<double>(value) * kSixteenBitFullScale);
    if (std::isnan(scaled)) return 0;  // a damaged float sample becomes silence
    if (scaled >= 32767.0) return 32767;
    if (scaled <= -32768.0) return -32768;
    return static_cast<std::int16_t>(scaled);
}

// Processors with a rounding instruction round in line instead of calling the library;
// the result is the same in the current rounding mode either way.
BM7_FRAME_LOOP void convertAll(const float* __restrict samples, std::size_t count,
                               std::int16_t* __restrict converted) {
    for (std::size_t i = 0; i < count; ++i) converted[i] = toSixteenBit(samples[i]);
}

}  // namespace

AudioFileReader::~AudioFileReader() {
    close();
}

bool AudioFileReader::open(const std::string& path, int channel, double sampleRate,
                           std::string& problem) {
    close();
    path_ = path;
    failure_ = AudioFileFailure::none;
    warning_.clear();
    framesRead_ = 0;
    announcedFrames_ = 0;
    if (std::string damaged; !waveChunksFit(path, damaged)) {
        return refuse(AudioFileFailure::unreadable, damaged, problem);
    }
    SF_INFO info{};
    std::string error;
    file_ = openFile(path, info, error);
    fileSampleRate_ = info.samplerate;
    fileChannels_ = info.channels;
    fileFrames_ = info.frames;
    if (file_ == nullptr) {
        return refuse(AudioFileFailure::unreadable,
                      "Cannot read audio file " + quoted(path) + ": " + error, problem);
    }
    if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
        return refuse(AudioFileFailure::unreadable,
                      "Audio file " + quoted(path) + " holds no audio", problem);
    }
    // Resampling such a file would only invent junk clips, as a damaged rate field would.
    if (info.samplerate < kLowestSampleRate) {
        return refuse(AudioFileFailure::unsuitable,
                      "Audio file " + quoted(path) + " is sampled at " +
                          std::to_string(info.samplerate) + " Hz, below " +
                          std::to_string(kLowestSampleRate) +
                          " Hz, so it cannot hold the song band (4.0-5.5 kHz)",
                      problem);
    }
    if (channel > info.channels || channel < 0) {
        return refuse(AudioFileFailure::unsuitable,
                      "Audio file " + quoted(path) + " has " + std::to_string(info.channels) +
                          " channel(s), so it has no channel " + std::to_string(channel),
                      problem);
    }
    // An MP3's frame count is the library's estimate from its bit rate, not a promise of
    // a header: falling short of it is no sign of a cut file.
    const bool estimated = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    announcedFrames_ =
        estimated ? 0 : std::max<std::int64_t>(info.frames, announcedFrames(file_, info.frames));
    channelIndex_ = channel > 0 ? channel - 1 : 0;
    // Mono 16-bit samples at the chosen rate need no conversion: the float round trip
    // would give back exactly the stored values.
    direct_ = info.channels == 1 && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 &&
              info.samplerate == sampleRate;
    interleaved_.resize(kChunkFrames * static_cast<std::size_t>(fileChannels_));
    channel_.resize(kChunkFrames);
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
        const double ratio = sampleRate / info.samplerate;
        resampled_.resize(static_cast<std::size_t>(kChunkFrames * ratio) + kChunkFrames);
    }
    return true;
}

std::size_t AudioFileReader::read(std::int16_t* samples, std::size_t count) {
    if (direct_) return readDirect(samples, count);
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

std::size_t AudioFileReader::readDirect(std::int16_t* samples, std::size_t count) {
    std::size_t done = 0;
    while (done < count && file_ != nullptr) {
        const auto asked = static_cast<sf_count_t>(count - done);
        const sf_count_t got = sf_read_short(file_, samples + done, asked);
        noteFrames(got, asked);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void AudioFileReader::close() {
    if (resampler_ != nullptr) soxr_delete(resampler_);
    resampler_ = nullptr;
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    flushed_ = false;
    direct_ = false;
    pending_.clear();
    pendingPosition_ = 0;
}

// Replaces the pending samples with the next chunk of the file; false at its end.
bool AudioFileReader::refill() {
    pending_.clear();
    pendingPosition_ = 0;
    if (file_ == nullptr || flushed_) return false;
    const sf_count_t frames = sf_readf_float(file_, interleaved_.data(), kChunkFrames);
    noteFrames(frames, kChunkFrames);
    const std::size_t frameCount = frames > 0 ? static_cast<std::size_t>(frames) : 0;
    takeChannel(frameCount);
    if (resampler_ == nullptr) {
        keepSamples(channel_.data(), frameCount);
        return frameCount > 0;
    }
    std::size_t consumed = 0;
    for (;;) {
        std::size_t used = 0;
        std::size_t produced = 0;
        // A null input tells the resampler the input has ended, so it drains its filter.
        const float* input = frameCount > 0 ? channel_.data() + consumed : nullptr;
        const soxr_error_t error = soxr_process(resampler_, input, frameCount - consumed, &used,
                                                resampled_.data(), resampled_.size(), &produced);
        if (error != nullptr) return false;
        consumed += used;
        keepSamples(resampled_.data(), produced);
        if (frameCount == 0 && produced == 0) flushed_ = true;
        const bool drained = frameCount == 0
                                 ? produced == 0
                                 : consumed == frameCount && produced < resampled_.size();
        if (drained) break;
    }
    return true;
}

void AudioFileReader::noteFrames(sf_count_t frames, sf_count_t asked) {
    if (frames > 0) framesRead_ += frames;
    if (frames >= asked || !warning_.empty() || framesRead_ >= announcedFrames_) return;
    warning_ = "Audio file " + quoted(path_) + " ends early: it holds " +
               framesText(framesRead_, fileSampleRate_) + " of the " +
               framesText(announcedFrames_, fileSampleRate_) +
               " its header announces; analysed as far as it goes";
}

bool AudioFileReader::refuse(AudioFileFailure kind, const std::string& text, std::string& problem) {
    failure_ = kind;
    problem = text;
    close();
    return false;
}

void AudioFileReader::takeChannel(std::size_t frameCount) {
    const std::size_t stride = static_cast<std::size_t>(fileChannels_);
    const float* from = interleaved_.data() + channelIndex_;
    for (std::size_t i = 0; i < frameCount; ++i) channel_[i] = from[i * stride];
}

void AudioFileReader::keepSamples(const float* samples, std::size_t count) {
    const std::size_t start = pending_.size();
    pending_.resize(start + count);
    convertAll(samples, count, pending_.data() + start);
}

}  // namespace bm7
