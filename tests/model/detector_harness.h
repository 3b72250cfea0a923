// Runs the detector over synthetic recordings: writes them as 16-bit WAVE files, feeds
// them through the audio-file source, and steps the model by hand so that tests can
// look at its signals between steps.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/file_capture.h"
#include "driver/nonfinite.h"
#include "driver/timing.h"
#include "model/detector_model.h"
#include "support/scratch_directory.h"

namespace bm7::testing {

inline constexpr int kRate = 22050;
inline constexpr int kFrame = 8192;

inline void writeWave(const std::string& path, const std::vector<std::int16_t>& samples) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

inline std::vector<std::int16_t> readWave(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames));
    sf_read_short(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

// The value a 16-bit clip stores for a captured 16-bit sample.
inline std::int16_t clipValue(std::int16_t captured) {
    const double x = captured / 32768.0;
    return static_cast<std::int16_t>(static_cast<int>(std::floor(x * 32767 + 0.5)));
}

inline std::vector<std::int16_t> toPcm(const std::vector<double>& signal) {
    std::vector<std::int16_t> pcm;
    pcm.reserve(signal.size());
    for (double x : signal) {
        const double v = std::floor(x * 32767.0 + 0.5);
        pcm.push_back(static_cast<std::int16_t>(std::fmax(-32768.0, std::fmin(32767.0, v))));
    }
    return pcm;
}

// A note as the detector is built to recognise: a carrier in the song band whose
// amplitude pulses at a rate inside the narrow modulation band.
inline void addPulsedNote(std::vector<double>& signal, double startS, double lengthS,
                          double carrierHz, double pulseHz, double amplitude) {
    const auto first = static_cast<std::size_t>(std::lround(startS * kRate));
    const auto count = static_cast<std::size_t>(std::lround(lengthS * kRate));
    for (std::size_t n = 0; n < count && first + n < signal.size(); ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double pulse = 0.5 - 0.5 * std::cos(2.0 * M_PI * pulseHz * t);
        signal[first + n] += amplitude * pulse * std::sin(2.0 * M_PI * carrierHz * t);
    }
}

// Low broadband noise, so that the energy ratios see a floor as in the field.
inline std::vector<double> quietNoise(std::size_t count, std::uint32_t seed) {
    std::vector<double> signal(count);
    std::uint32_t state = seed;
    for (double& x : signal) {
        state = state * 1664525U + 1013904223U;
        x = 0.004 * (static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    }
    return signal;
}

// The detector with its files in a scratch directory and its audio from a WAVE file,
// stepped as the driver steps it.
class SteppedDetector {
public:
    // With a listener, the model reports its detections to it; without file outputs, it
    // saves no clip, writes no level log and probes no stop file, as in an archive scan.
    explicit SteppedDetector(const std::vector<std::int16_t>& samples,
                             detector::DetectionListener* listener = nullptr,
                             bool fileOutputs = true)
        : model_(settingsIn(scratch_, fileOutputs)) {
        initializeNonFinites(8);
        writeWave(scratch_ / "input.wav", samples);
        source_ = std::make_unique<FileCapture>(scratch_ / "input.wav", 0, false);
        model_.setCaptureLayer(source_.get());
        model_.setDetectionListener(listener);
        root_ = model_.registerModel();
        model_.declareModelSizes();
        model_.declareModelSampleTimes();
        initializeTiming(*root_, timing_);
        model_.start();
    }
    ~SteppedDetector() {
        if (root_->errorStatus == nullptr) model_.terminate();
        source_.reset();
    }

    // A model that reported an error is not stepped again, as the driver would not: its
    // source may be closed, and the step would wait for audio for ever.
    void step() {
        if (const char* error = root_->errorStatus) {
            ADD_FAILURE() << "stepped after the model reported: " << error;
            return;
        }
        advanceTime(timing_);
        model_.outputs(0);
        model_.update(0);
        updateSampleHits(*root_);
    }

    detector::DetectorModel& model() { return model_; }
    const detector::Signals& signals() const { return model_.signals(); }
    BlockRecord& root() { return *root_; }
    const ScratchDirectory& scratch() const { return scratch_; }

    static detector::ModelSettings settingsIn(const ScratchDirectory& scratch,
                                              bool fileOutputs = true) {
        detector::ModelSettings settings;
        if (!fileOutputs) {
            settings.files.clipDirectory = settings.files.logFile = settings.files.stopFile = "";
            return settings;
        }
        settings.files.clipDirectory = scratch / "Calls";
        settings.files.logFile = scratch / "Calls/LogDick.txt";
        settings.files.stopFile = scratch / "stop.txt";
        return settings;
    }

private:
    ScratchDirectory scratch_;
    detector::DetectorModel model_;
    std::unique_ptr<FileCapture> source_;
    TimingState timing_;
    BlockRecord* root_ = nullptr;
};

}  // namespace bm7::testing
