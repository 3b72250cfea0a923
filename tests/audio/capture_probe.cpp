// A small program around the WaveIn block, for checks that need a real capture path:
//   capture_probe make-recording FILE SECONDS SEED
//       writes seeded random 16-bit mono audio at 22050 Hz
//   capture_probe capture OUT FRAMES READY [--device NAME | --input FILE [--realtime]]
//       captures FRAMES frames of the model's configuration into OUT (raw 16-bit
//       samples), creating the file READY once capture runs
//   capture_probe find RECORDING CAPTURE
//       succeeds when the recording appears in the capture sample for sample
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "audio/capture_settings.h"
#include "wave_in_harness.h"

namespace {

using bm7::testing::kModelWaveIn;

int makeRecording(const char* path, double seconds, unsigned seed) {
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "capture_probe: %s\n", sf_strerror(nullptr));
        return 1;
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<short> samples(static_cast<std::size_t>(seconds * info.samplerate));
    for (short& value : samples) value = static_cast<short>(sample(random));
    sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return 0;
}

int capture(const char* outPath, int frames, const char* readyPath, int argc, char** argv) {
    bm7::CommandLine commandLine;
    for (int i = 0; i < argc; ++i) {
        const std::string name = std::string(argv[i]).substr(2);
        const bool flag = name == "realtime" || i + 1 == argc;
        commandLine.options[name] = flag ? "" : argv[++i];
    }
    bm7::CaptureSettings settings;
    std::string problem;
    if (!bm7::readCaptureSettings(commandLine, settings, problem)) {
        std::fprintf(stderr, "capture_probe: %s\n", problem.c_str());
        return 2;
    }
    std::FILE* out = std::fopen(outPath, "wb");
    if (out == nullptr) return 2;
    std::unique_ptr<bm7::CaptureLayer> layer = bm7::makeCaptureLayer(settings);
    bm7::testing::WaveInHarness harness(kModelWaveIn, layer.get());
    std::vector<short> samples;
    const bm7::testing::RunOutcome outcome = bm7::testing::runWaveIn(
        harness,
        [&](const double* frame, int width) {
            samples.resize(static_cast<std::size_t>(width));
            for (int i = 0; i < width; ++i) samples[i] = static_cast<short>(frame[i] * 32768.0);
            std::fwrite(samples.data(), sizeof(short), samples.size(), out);
        },
        frames,
        [&] {
            if (std::FILE* ready = std::fopen(readyPath, "w")) std::fclose(ready);
        });
    std::fclose(out);
    if (outcome.exitStatus != 0) std::fprintf(stderr, "%s\n", outcome.message.c_str());
    return outcome.exitStatus;
}

std::vector<short> readRecording(const char* path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<short> samples(static_cast<std::size_t>(info.frames));
    sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

std::vector<short> readRaw(const char* path) {
    std::vector<short> samples;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return samples;
    short value = 0;
    while (std::fread(&value, sizeof value, 1, file) == 1) samples.push_back(value);
    std::fclose(file);
    return samples;
}

// The capture start offset varies, so the recording is searched for; the longest match
// found is reported when the whole recording is not there.
int find(const char* recordingPath, const char* capturePath) {
    const std::vector<short> recording = readRecording(recordingPath);
    const std::vector<short> captured = readRaw(capturePath);
    if (recording.empty()) return 2;
    std::size_t bestLength = 0;
    std::size_t bestOffset = 0;
    for (std::size_t offset = 0; offset < captured.size(); ++offset) {
        std::size_t length = 0;
        while (length < recording.size() && offset + length < captured.size() &&
               captured[offset + length] == recording[length]) {
            ++length;
        }
        if (length > bestLength) {
            bestLength = length;
            bestOffset = offset;
        }
        if (length == recording.size()) break;
    }
    std::printf("recording of %zu samples: %zu match in order at capture sample %zu of %zu\n",
                recording.size(), bestLength, bestOffset, captured.size());
    return bestLength == recording.size() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make-recording" && argc == 5) {
        return makeRecording(argv[2], std::atof(argv[3]),
                             static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
    }
    if (command == "capture" && argc >= 5) {
        return capture(argv[2], std::atoi(argv[3]), argv[4], argc - 5, argv + 5);
    }
    if (command == "find" && argc == 4) return find(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: capture_probe make-recording FILE SECONDS SEED\n"
                 "       capture_probe capture OUT FRAMES READY [--device NAME | --input FILE "
                 "[--realtime]]\n"
                 "       capture_probe find RECORDING CAPTURE\n");
    return 2;
}
