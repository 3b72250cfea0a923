#include "blocks/counter.h"

#include <array>
#include <utility>

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

// Logical inputs and switches: NaN counts as off.
bool isOn(double value) {
    return value < 0.0 || value > 0.0;
}

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

struct CountRun {
    const double* const* stepInput;
    const double* const* resetInput;
    const double* const* loadInput;
    double* output;
    double loadValue;
    double threshold;
    int frameLength;
};

// One channel over one frame. The switches are template arguments so that each of the
// configurations gets its own loop without tests of absent inputs inside it.
template <bool hasStep, bool hasReset, bool hasLoad, bool countsDown, bool stopsAtLimit>
double countChannel(const CountRun& run, ChannelStride channel, double count) {
    int element = channel.first;
    for (int sample = 0; sample < run.frameLength; ++sample, element += channel.step) {
        if (hasReset && isOn(*run.resetInput[element])) {
            count = 0.0;
        } else if (hasLoad && isOn(*run.loadInput[element])) {
            count = run.loadValue;
        } else if (!stopsAtLimit || (countsDown ? count > run.threshold : count < run.threshold)) {
            const double step = hasStep ? *run.stepInput[element] : 1.0;
            count = countsDown ? count - step : count + step;
        }
        run.output[element] = count;
    }
    return count;
}

using ChannelCounter = double (*)(const CountRun&, ChannelStride, double);

template <std::size_t config>
constexpr ChannelCounter counterFor() {
    return countChannel<(config & 1) != 0, (config & 2) != 0, (config & 4) != 0, (config & 8) != 0,
                        (config & 16) != 0>;
}

template <std::size_t... configs>
constexpr std::array<ChannelCounter, sizeof...(configs)> counterTable(
    std::index_sequence<configs...>) {
    return {counterFor<configs>()...};
}

constexpr auto channelCounters = counterTable(std::make_index_sequence<32>());

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
}

void outputs(BlockRecord* block, int) {
    const bool hasStep = switchOn(*block, hasStepParam);
    const bool hasReset = switchOn(*block, hasResetParam);
    const bool hasLoad = switchOn(*block, hasLoadParam);
    const bool countsDown = switchOn(*block, countsDownParam);
    const bool stopsAtLimit = switchOn(*block, stopsAtLimitParam);
    const bool channelMajor = paramInt(*block, layoutParam) != 0;
    const int frameLength = paramInt(*block, frameLengthParam);
    const int channels = paramInt(*block, channelsParam);

    // Inputs are numbered step, reset, load, skipping the absent ones.
    int port = 0;
    CountRun run{};
    if (hasStep) run.stepInput = block->inputPorts[port++].elementPointers;
    if (hasReset) run.resetInput = block->inputPorts[port++].elementPointers;
    if (hasLoad) run.loadInput = block->inputPorts[port++].elementPointers;
    run.output = block->outputPorts[0].signal;
    run.loadValue = paramReal(*block, loadValueParam);
    run.threshold = stopsAtLimit ? limitThreshold(*block, countsDown) : 0.0;
    run.frameLength = frameLength;

    const ChannelCounter countOver = channelCounters[hasStep | hasReset << 1 | hasLoad << 2 |
                                                     countsDown << 3 | stopsAtLimit << 4];
    for (int channel = 0; channel < channels; ++channel) {
        const ChannelStride stride = channelMajor ? ChannelStride{channel * frameLength, 1}
                                                  : ChannelStride{channel, channels};
        block->realWork[channel] = countOver(run, stride, block->discreteStates[channel]);
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
