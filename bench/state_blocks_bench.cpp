// One outputs-and-update call of each counting and state block, at the model's frame
// length and with the parameters of each of the model's instances.
#include <benchmark/benchmark.h>

#include <functional>
#include <random>
#include <vector>

#include "../tests/support/block_harness.h"
#include "blocks/counter.h"
#include "model/delay.h"
#include "model/gated_shift_register.h"
#include "model/integrate.h"
#include "model/pulse_limited_flip_flop.h"

namespace bm7 {
namespace {

constexpr int frameLength = 8192;
constexpr double framePeriod = 0.3715192743764172;

// Pulses of `chance` per sample, as the detector's logical signals are mostly zero.
std::vector<double> sparsePulses(int size, double chance, unsigned seed) {
    std::mt19937 random(seed);
    std::bernoulli_distribution fires(chance);
    std::vector<double> pulses(size);
    for (double& x : pulses) x = fires(random) ? 1.0 : 0.0;
    return pulses;
}

std::vector<double> randomPower(int size, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(0.0, 1e-3);
    std::vector<double> power(size);
    for (double& x : power) x = value(random);
    return power;
}

void runBlock(benchmark::State& state, void (*registerKind)(BlockRecord*),
              const std::vector<double>& params,
              const std::function<void(BlockHarness&)>& fillInputs) {
    BlockHarness block(registerKind, params);
    block.initializeConditions();
    fillInputs(block);
    for (auto _ : state) {
        callOutputs(block.record(), 0);
        callUpdate(block.record(), 0);
        benchmark::DoNotOptimize(block.output().data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(block.output().size()));
}

void noInputs(BlockHarness&) {}

void powerInput(BlockHarness& block) {
    block.setInput(0, randomPower(static_cast<int>(block.input(0).size()), 3));
}

void BM_CounterSampleClock(benchmark::State& state) {
    runBlock(state, registerCounter, {frameLength, 0, 0, 0, 0, 0, 0, 0, 463050, 1, 1, framePeriod},
             noInputs);
}
void BM_CounterHoldOff(benchmark::State& state) {
    runBlock(state, registerCounter, {frameLength, 0, 0, 0, 1, 0, 1, 0, 9830.4, 1, 1, framePeriod},
             noInputs);
}
void BM_CounterPulseExtender(benchmark::State& state) {
    runBlock(state, registerCounter, {frameLength, 0, 0, 1, 1, 10001, 1, 0, 0, 1, 0, -1},
             [](BlockHarness& block) { block.setInput(0, sparsePulses(frameLength, 1e-4, 5)); });
}
void BM_Integrate(benchmark::State& state) {
    const double frame = static_cast<double>(state.range(0));
    runBlock(state, registerIntegrate, {frame, 0, double(state.range(1)), 1, 1, 0}, powerInput);
}
// The model's energy and envelope sums, one after the other or side by side.
void BM_IntegratePair(benchmark::State& state) {
    const bool together = state.range(0) != 0;
    BlockHarness energy(registerIntegrate, {frameLength, 0, 1103, 1, 1, 0});
    BlockHarness envelope(registerIntegrate, {frameLength, 0, 100, 1, 1, 0});
    for (BlockHarness* block : {&energy, &envelope}) {
        block->initializeConditions();
        powerInput(*block);
    }
    for (auto _ : state) {
        if (together) {
            integrateOutputsTogether(energy.record(), envelope.record());
        } else {
            callOutputs(energy.record(), 0);
            callOutputs(envelope.record(), 0);
        }
        callUpdate(energy.record(), 0);
        callUpdate(envelope.record(), 0);
        benchmark::ClobberMemory();
    }
}
void BM_Delay(benchmark::State& state) {
    runBlock(state, registerDelay, {frameLength, double(state.range(0)), 1, double(state.range(1))},
             powerInput);
}
void BM_PulseLimitedFlipFlop(benchmark::State& state) {
    runBlock(state, registerPulseLimitedFlipFlop, {frameLength, 0, 2205, 8820, 1, 0},
             [](BlockHarness& block) {
                 block.setInput(0, sparsePulses(frameLength, 2e-4, 7));
                 block.setInput(1, sparsePulses(frameLength, 5e-4, 11));
             });
}
void BM_GatedShiftRegister(benchmark::State& state) {
    runBlock(state, registerGatedShiftRegister, {frameLength, 25, 1, 1}, [](BlockHarness& block) {
        for (int i = 0; i < frameLength; ++i) block.input(0)[i] = 463051.0 + i;
        block.setInput(1, sparsePulses(frameLength, 1e-3, 13));
    });
}

BENCHMARK(BM_CounterSampleClock);
BENCHMARK(BM_CounterHoldOff);
BENCHMARK(BM_CounterPulseExtender);
// Frame length, window length: the detector's smoother, the envelope, a modulation band.
BENCHMARK(BM_Integrate)->Args({frameLength, 1103})->Args({frameLength, 100})->Args({128, 310});
// Delay, layout flag: band power, peak detector, edge detect, clip audio.
BENCHMARK(BM_IntegratePair)->Arg(0)->Arg(1);
BENCHMARK(BM_Delay)->Args({10000, 1})->Args({441, 0})->Args({1, 1})->Args({15000, 0});
BENCHMARK(BM_PulseLimitedFlipFlop);
BENCHMARK(BM_GatedShiftRegister);

}  // namespace
}  // namespace bm7
