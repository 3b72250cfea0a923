#include "blocks/counter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "driver/frame_loop.h"

namespace bm7 {
namespace {

enum Param {
    frameLengthParam,
    hasStepParam,
    hasResetParam,
    hasLoadParam,
    countsDownParam,
    loadValueParam,
    stopsAtLimitParam,
    limitParam,
    initialCountParam,
    channelsParam,
    layoutParam,
    samplePeriodParam,
    paramTotal
};

// Switches: NaN counts as off, as it does for the inputs.
bool switchOn(const BlockRecord& block, int index) {
    return isOn(paramReal(block, index));
}

int inputPortCount(const BlockRecord& block) {
    return switchOn(block, hasStepParam) + switchOn(block, hasResetParam) +
           switchOn(block, hasLoadParam);
}

// Where one channel's samples lie in a frame of either layout.
struct ChannelStride {
    int first;
    int step;
};

template <typename Input>
struct CountRun {
    Input stepInput;
    Input resetInput;
    Input loadInput;
    double* output;
    double loadValue;
    double threshold;
    int frameLength;
};

// Adding or taking 1.0 is exact for an integral count this far from 2^53, so the count
// after k steps of one is the one rounding of count +- k: what k single steps give.
constexpr double kExactCountBound = 4503599627370496.0;  // 2^52

bool stepsOfOneAreExact(double count, int samples) {
    return std::fabs(count) < kExactCountBound - samples && std::trunc(count) == count;
}

// Writes count +- 1, count +- 2, ... to samples [from, to) of a channel.
template <bool countsDown>
void countByOne(ChannelStride channel, double* out, int from, int to, double count) {
    double* at = out + channel.first + from * channel.step;
    const int steps = to - from;
    if (channel.step == 1) {
        for (int k = 0; k < steps; ++k) at[k] = countsDown ? count - (k + 1) : count + (k + 1);
        return;
    }
    for (int k = 0; k < steps; ++k)
        at[k * channel.step] = countsDown ? count - (k + 1) : count + (k + 1);
}

// How many steps of one, out of `samples`, a count takes before it reaches its limit.
// The counts compared are exact, so they pass the limit in order and the answer is found
// by adjusting an estimate with the rule's own comparison.
template <bool countsDown>
int stepsBeforeLimit(double count, double threshold, int samples) {
    const auto moves = [count, threshold](int steps) {
        return countsDown ? count - steps > threshold : count + steps < threshold;
    };
    const double room = countsDown ? count - threshold : threshold - count;
    int steps = room > 0.0 ? static_cast<int>(std::min(room, static_cast<double>(samples))) : 0;
    while (steps > 0 && !moves(steps - 1)) --steps;
    while (steps < samples && moves(steps)) ++steps;
    return steps;
}

// One channel over one frame. The switches are template arguments so that each of the
// configurations gets its own loop without tests of absent inputs inside it; the count
// lives in a local for the frame. The frame goes by stretches in which the count holds
// (resets held on, loads held on, or the limit reached and neither input on) or, without
// a step input, counts by one: each stretch is found first and written whole, its counts
// computed from its first when those steps are exact. The results are the per-sample
// rule's: reset, else load, else a step unless at the limit.
template <bool hasStep, bool hasReset, bool hasLoad, bool countsDown, bool stopsAtLimit,
          typename Input>
double countChannel(const CountRun<Input>& frame, ChannelStride channel, double count) {
    const CountRun<Input> run = frame;
    const int length = run.frameLength;
    const auto resets = [&run](int element) { return hasReset && isOn(run.resetInput[element]); };
    const auto loads = [&run](int element) { return hasLoad && isOn(run.loadInput[element]); };
    const auto resetOrLoad = [&](int element) { return resets(element) | loads(element); };
    // Only a reset or a load ends a stretch of holding or counting by one.
    std::array<const double*, int{hasReset} + int{hasLoad}> watched{};
    if constexpr (hasReset) watched.front() = run.resetInput.run();
    if constexpr (hasLoad) watched.back() = run.loadInput.run();
    const auto stretchUntil = [&](int sample, auto ends, const auto&... quietUnlessOn) {
        return firstSampleWhere(sample + 1, length, channel.first, channel.step, ends,
                                quietUnlessOn...);
    };
    const auto atLimit = [&run](double value) {
        return stopsAtLimit && (countsDown ? !(value > run.threshold) : !(value < run.threshold));
    };
    for (int sample = 0; sample < length;) {
        const int element = channel.first + sample * channel.step;
        int end = sample + 1;
        if (resets(element)) {
            count = 0.0;
            end = stretchUntil(sample, [&](int e) { return !resets(e); });
        } else if (loads(element)) {
            count = run.loadValue;
            end = stretchUntil(sample, [&](int e) { return resets(e) | !loads(e); });
        } else if (atLimit(count)) {
            end = stretchUntil(sample, resetOrLoad, watched);
        } else if (!hasStep && stepsOfOneAreExact(count, length - sample)) {
            end = stretchUntil(sample, resetOrLoad, watched);
            const int steps = stopsAtLimit
                                  ? stepsBeforeLimit<countsDown>(count, run.threshold, end - sample)
                                  : end - sample;
            countByOne<countsDown>(channel, run.output, sample, sample + steps, count);
            count = countsDown ? count - steps : count + steps;
            sample += steps;
        } else {
            const double step = hasStep ? run.stepInput[element] : 1.0;
            count = countsDown ? count - step : count + step;
        }
        fillSamples(run.output, channel.first, channel.step, sample, end, count);
        sample = end;
    }
    return count;
}

template <typename Input>
using ChannelCounter = double (*)(const CountRun<Input>&, ChannelStride, double);

template <typename Input, std::size_t config>
constexpr ChannelCounter<Input> counterFor() {
    return countChannel<(config & 1) != 0, (config & 2) != 0, (config & 4) != 0, (config & 8) != 0,
                        (config & 16) != 0, Input>;
}

template <typename Input, std::size_t... configs>
constexpr std::array<ChannelCounter<Input>, sizeof...(configs)> counterTable(
    std::index_sequence<configs...>) {
    return {counterFor<Input, configs>()...};
}

template <typename Input>
constexpr auto channelCounters = counterTable<Input>(std::make_index_sequence<32>());

// The tolerances stop the count at the first value within about 1e-12 of the limit.
double limitThreshold(const BlockRecord& block, bool countsDown) {
    const double limit = paramReal(block, limitParam);
    return countsDown ? limit * 1.000000000001 + 1e-12 : limit * 0.999999999999 - 1e-12;
}

void initializeSizes(BlockRecord* block) {
    const int frameLength = paramInt(*block, frameLengthParam);
    const int channels = paramInt(*block, channelsParam);
    const int inputs = inputPortCount(*block);
    block->paramCountExpected = paramTotal;
    block->inputCount = inputs;
    for (int port = 0; port < inputs; ++port) {
        block->inputPorts[port].width = channels * frameLength;
        block->inputPorts[port].directFeedthrough = 1;
    }
    block->outputCount = 1;
    block->outputPorts[0].width = channels * frameLength;
    block->contStateCount = 0;
    block->discStateCount = channels;
    block->sampleTimeCount = 1;
    block->realWorkCount = channels;
    block->integerWorkCount = 0;
    block->pointerWorkCount = 0;
    block->modeCount = 0;
}

void initializeSampleTimes(BlockRecord* block) {
    block->samplePeriods[0] = paramReal(*block, samplePeriodParam);
    block->sampleOffsets[0] = 0.0;
}

void initializeConditions(BlockRecord* block) {
    const int channels = paramInt(*block, channelsParam);
    const double initialCount = paramReal(*block, initialCountParam);
    for (int channel = 0; channel < channels; ++channel)
        block->discreteStates[channel] = initialCount;
    findInputRuns(*block);
}

struct Switches {
    bool hasStep, hasReset, hasLoad, countsDown, stopsAtLimit;
    int index() const {
        return hasStep | hasReset << 1 | hasLoad << 2 | countsDown << 3 | stopsAtLimit << 4;
    }
};

template <typename Input>
void countChannels(BlockRecord* block, const Switches& sw, const Input (&inputs)[3]) {
    const int frameLength = paramInt(*block, frameLengthParam);
    const int channels = paramInt(*block, channelsParam);
    const bool channelMajor = paramInt(*block, layoutParam) != 0;
    // Inputs are numbered step, reset, load, skipping the absent ones.
    int port = 0;
    CountRun<Input> run{};
    if (sw.hasStep) run.stepInput = inputs[port++];
    if (sw.hasReset) run.resetInput = inputs[port++];
    if (sw.hasLoad) run.loadInput = inputs[port++];
    run.output = block->outputPorts[0].signal;
    run.loadValue = paramReal(*block, loadValueParam);
    run.threshold = sw.stopsAtLimit ? limitThreshold(*block, sw.countsDown) : 0.0;
    run.frameLength = frameLength;

    const ChannelCounter<Input> countOver = channelCounters<Input>[sw.index()];
    for (int channel = 0; channel < channels; ++channel) {
        const ChannelStride stride = channelMajor ? ChannelStride{channel * frameLength, 1}
                                                  : ChannelStride{channel, channels};
        block->realWork[channel] = countOver(run, stride, block->discreteStates[channel]);
    }
}

void outputs(BlockRecord* block, int) {
    const Switches sw{switchOn(*block, hasStepParam), switchOn(*block, hasResetParam),
                      switchOn(*block, hasLoadParam), switchOn(*block, countsDownParam),
                      switchOn(*block, stopsAtLimitParam)};
    const int ports = block->inputCount;
    bool runs = true;
    for (int port = 0; port < ports; ++port) runs = runs && block->inputPorts[port].run != nullptr;
    if (runs) {
        ByRun inputs[3]{};
        for (int port = 0; port < ports; ++port) inputs[port] = {block->inputPorts[port].run};
        countChannels(block, sw, inputs);
    } else {
        ByPointer inputs[3]{};
        for (int port = 0; port < ports; ++port)
            inputs[port] = {block->inputPorts[port].elementPointers};
        countChannels(block, sw, inputs);
    }
}

void update(BlockRecord* block, int) {
    const int channels = paramInt(*block, channelsParam);
    for (int channel = 0; channel < channels; ++channel)
        block->discreteStates[channel] = block->realWork[channel];
}

}  // namespace

void registerCounter(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = initializeSampleTimes;
    methods.initializeConditions.byRecord = initializeConditions;
    methods.outputs.byRecord = outputs;
    methods.update = update;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
