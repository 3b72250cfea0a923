// Time to write the longest clip Clip & Save can produce (32767 one-channel frames of the
// model's window) in each format, and to scan a frame with no detection in it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "files/clip_save.h"
#include "files/clip_writers.h"

namespace {

constexpr int kWindowLength = 32768;

struct Window {
    Window() : values(kWindowLength) {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> noise(-1.0, 1.0);
        for (double& value : values) value = noise(random);
        for (double& value : values) pointers.push_back(&value);
    }
    std::vector<double> values;
    std::vector<const double*> pointers;
};

void writeLongestClip(benchmark::State& state) {
    static const Window window;
    const int code = static_cast<int>(state.range(0));
    bm7::ClipSamples clip;
    clip.window = window.pointers.data();
    clip.windowLength = kWindowLength;
    clip.channels = 1;
    clip.first = 1;
    clip.end = kWindowLength;
    clip.sampleRate = 22050.0;
    const std::string name = "/tmp/bm7-files-bench-" + std::to_string(getpid());
    const bm7::ClipFormat* format = bm7::clipFormat(code);
    state.SetLabel(format->extension);
    for (auto _ : state) {
        if (format->write(name.c_str(), clip, nullptr) != nullptr)
            state.SkipWithError("write failed");
    }
    std::remove(name.c_str());
    state.SetItemsProcessed(state.iterations() * clip.frames());
}
BENCHMARK(writeLongestClip)->DenseRange(1, 8)->Unit(benchmark::kMillisecond);

void scanQuietFrame(benchmark::State& state) {
    const std::vector<double> gate(kWindowLength, 0.0);
    std::vector<const double*> pointers;
    for (const double& value : gate) pointers.push_back(&value);
    bm7::ClipRange run;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bm7::nextFinishedRun(
            pointers.data(), kWindowLength, kWindowLength - 8192, kWindowLength - 8192, run));
    }
}
BENCHMARK(scanQuietFrame);

}  // namespace
