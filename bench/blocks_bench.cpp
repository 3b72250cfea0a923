// Step costs of the signal blocks at the sizes the detector model uses, and of the
// transform kernel against per-group evaluation of its twiddles.
#include <benchmark/benchmark.h>

#include <vector>

#include "blocks/block_harness.h"
#include "blocks/deinterleave.h"
#include "blocks/downsample.h"
#include "blocks/fft_kernel.h"
#include "blocks/fifo.h"
#include "blocks/naive_dft.h"
#include "blocks/per_group_fft.h"
#include "blocks/real_fft.h"
#include "blocks/real_ifft.h"
#include "blocks/upsample_hold.h"
#include "blocks/zero_pad.h"

namespace bm7 {
namespace {

using blocktest::BlockHarness;
using blocktest::randomFrame;
using blocktest::row;
using blocktest::scalar;

void realFft(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    BlockHarness fft(registerRealFft, {scalar(-1)}, n, 2 * n, true);
    fft.initializeConditions();
    fft.setInput(randomFrame(static_cast<std::size_t>(n), 1u));
    for (auto _ : state) {
        fft.outputs();
        benchmark::DoNotOptimize(fft.outputVector().data());
    }
}
BENCHMARK(realFft)->Arg(16384)->Arg(2048)->Arg(512)->Arg(256);

void realIfft(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    BlockHarness ifft(registerRealIfft, {scalar(-1)}, 2 * n, 2 * n, true);
    ifft.initializeConditions();
    ifft.setInput(randomFrame(static_cast<std::size_t>(2 * n), 2u));
    for (auto _ : state) {
        ifft.outputs();
        benchmark::DoNotOptimize(ifft.outputVector().data());
    }
}
BENCHMARK(realIfft)->Arg(16384)->Arg(2048)->Arg(512)->Arg(256);

template <void (*Transform)(double*, double*, int)>
void kernel(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::vector<double> re = randomFrame(static_cast<std::size_t>(n), 3u);
    const std::vector<double> im = randomFrame(static_cast<std::size_t>(n), 4u);
    std::vector<double> workRe = re, workIm = im;
    prepareComplexFft(n);
    for (auto _ : state) {
        workRe = re;
        workIm = im;
        Transform(workRe.data(), workIm.data(), n);
        benchmark::DoNotOptimize(workRe.data());
    }
}
BENCHMARK(kernel<complexFft>)->Name("complexFftTable")->Arg(8192)->Arg(1024)->Arg(128);
BENCHMARK(kernel<blocktest::perGroupFft>)
    ->Name("complexFftPerGroup")
    ->Arg(8192)
    ->Arg(1024)
    ->Arg(128);

void fifo(benchmark::State& state) {
    const int outputLength = static_cast<int>(state.range(0));
    BlockHarness block(registerFifo, {scalar(8192), scalar(outputLength), scalar(1), scalar(0)}, 1,
                       1);
    block.initializeConditions();
    block.setInput(randomFrame(8192, 5u));
    for (auto _ : state) {
        block.step();
        benchmark::DoNotOptimize(block.output());
    }
}
BENCHMARK(fifo)->Arg(16384)->Arg(32768);

void zeroPad(benchmark::State& state) {
    BlockHarness block(registerZeroPad, {blocktest::column({512, 1})}, 128, 512, true);
    block.initializeConditions();
    block.setInput(randomFrame(128, 6u));
    for (auto _ : state) {
        block.outputs();
        benchmark::DoNotOptimize(block.outputVector().data());
    }
}
BENCHMARK(zeroPad);

void downsample(benchmark::State& state) {
    const int frameLength = static_cast<int>(state.range(0));
    BlockHarness block(registerDownsample,
                       {scalar(frameLength), scalar(8), row({1, 2, 3, 4, 5, 6, 7, 8})}, 1, 8);
    block.initializeConditions();
    block.setInput(randomFrame(static_cast<std::size_t>(frameLength), 7u));
    for (auto _ : state) {
        block.outputs();
        benchmark::DoNotOptimize(block.output(7));
    }
}
BENCHMARK(downsample)->Arg(8192)->Arg(1024);

void upsampleHold(benchmark::State& state) {
    BlockHarness block(registerUpsampleHold, {scalar(128), scalar(64), row({1})}, 1, 1);
    block.initializeConditions();
    block.setInput(randomFrame(128, 8u));
    for (auto _ : state) {
        block.outputs();
        benchmark::DoNotOptimize(block.output());
    }
}
BENCHMARK(upsampleHold);

void deinterleave(benchmark::State& state) {
    BlockHarness block(registerDeinterleave, {scalar(1), scalar(8192)}, 1, 1);
    block.setInput(randomFrame(8192, 9u));
    for (auto _ : state) {
        block.outputs();
        benchmark::DoNotOptimize(block.output());
    }
}
BENCHMARK(deinterleave);

}  // namespace
}  // namespace bm7
