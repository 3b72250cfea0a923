// The cost of one WaveIn step when a filled buffer is already waiting: take, convert
// 8192 16-bit samples, prepare and queue the buffer again.
#include <benchmark/benchmark.h>

#include <random>

#include "../tests/audio/wave_in_harness.h"
#include "audio/capture_layer.h"

namespace {

// Returns every queued buffer at once, full of the same recorded noise.
class InstantLayer final : public bm7::CaptureLayer {
public:
    int open(const bm7::CaptureFormat&, bm7::CaptureNotification notify, void* instance) override {
        notify_ = notify;
        instance_ = instance;
        return 0;
    }
    int prepare(bm7::CaptureBuffer*) override { return 0; }
    int queue(bm7::CaptureBuffer* buffer) override {
        if (!filled_) {
            std::mt19937 random(1);
            for (std::uint32_t i = 0; i < buffer->bufferLength; ++i) {
                buffer->data[i] = static_cast<std::uint8_t>(random());
            }
        }
        buffer->bytesRecorded = buffer->bufferLength;
        notify_(instance_, buffer);
        return 0;
    }
    int start() override {
        filled_ = true;
        return 0;
    }
    int reset() override { return 0; }
    int unprepare(bm7::CaptureBuffer*) override { return 0; }
    int close() override { return 0; }
    const char* errorText(int) override { return nullptr; }

private:
    bm7::CaptureNotification notify_ = nullptr;
    void* instance_ = nullptr;
    bool filled_ = false;
};

void waveInStep(benchmark::State& state) {
    InstantLayer layer;
    bm7::testing::WaveInHarness harness(bm7::testing::kModelWaveIn, &layer);
    bm7::callStart(harness.block());
    for (auto _ : state) {
        bm7::callOutputs(harness.block(), 0);
        benchmark::DoNotOptimize(harness.frame()[0]);
    }
    bm7::callTerminate(harness.block());
    state.SetItemsProcessed(state.iterations() * harness.frameWidth());
}
BENCHMARK(waveInStep);

}  // namespace
