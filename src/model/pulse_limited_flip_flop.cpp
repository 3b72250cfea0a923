#include "model/pulse_limited_flip_flop.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "driver/frame_loop.h"
#include "model/frame_history.h"

namespace bm7 {
namespace {

enum Param {
    frameLengthParam,
    initialStateParam,
    minimumParam,
    maximumParam,
    channelsParam,
    layoutParam,
    paramTotal
};

enum Port { resetPort, setPort };

struct Limits {
    int minimum;  // 0: no minimum
    int maximum;  // 0: no maximum
};

// An infinite maximum means none; so does a NaN one, which has no integer value.
Limits limitsOf(const BlockRecord& block) {
    const double maximum = paramReal(block, maximumParam);
    return {paramInt(block, minimumParam), std::isfinite(maximum) ? roundHalfUp(maximum) : 0};
}

template <typename Input>
struct Channel {
    Input reset;
    Input set;
    double* output;
    int first;
    int stride;
    int frameLength;
};

// One channel over one frame; `pulse` counts the consecutive 1.0 outputs so far. The
// maximum is tested against the count before this sample's increment. The count stops
// at INT_MAX rather than overflow: no comparison with a pulse length changes. The state
// and the count live in locals during the frame, so that no output store forces them
// back to memory. While the state is off and no pulse is under way, nothing changes
// until a set arrives without a reset; while it is on, nothing but the count changes
// until a reset or the maximum: such stretches are found and filled at once.
template <bool hasMinimum, bool hasMaximum, typename Input>
void runChannel(const Channel<Input>& channel, Limits limits, double& state, int& pulse) {
    const Channel<Input> c = channel;
    constexpr bool limited = hasMinimum || hasMaximum;
    const bool setsCanLatch = !(hasMaximum && limits.maximum <= 0);
    const auto latches = [&c](int element) {
        return !isOn(c.reset[element]) & isOn(c.set[element]);
    };
    double latched = state;
    int count = pulse;
    for (int sample = 0; sample < c.frameLength; ++sample) {
        if (!isOn(latched) && (!limited || count == 0) && setsCanLatch) {
            const int end = firstSampleWhere(sample, c.frameLength, c.first, c.stride, latches,
                                             std::array{c.set.run()});
            fillSamples(c.output, c.first, c.stride, sample, end, limited ? 0.0 : latched);
            sample = end;
            if (sample == c.frameLength) break;
        }
        if (isOn(latched) && !(hasMaximum && count >= limits.maximum)) {
            int end = firstSampleWhere(
                sample, c.frameLength, c.first, c.stride,
                [&c](int element) { return isOn(c.reset[element]); }, std::array{c.reset.run()});
            if (hasMaximum) end = sample + std::min(end - sample, limits.maximum - count);
            fillSamples(c.output, c.first, c.stride, sample, end, limited ? 1.0 : latched);
            const int held = end - sample;
            if (limited) count = count > INT_MAX - held ? INT_MAX : count + held;
            sample = end;
            if (sample == c.frameLength) break;
        }
        const int element = c.first + sample * c.stride;
        if (isOn(c.reset[element]) || (hasMaximum && count >= limits.maximum)) {
            latched = 0.0;
        } else if (isOn(c.set[element])) {
            latched = 1.0;
        }
        if (limited) {
            const bool high = isOn(latched) || (hasMinimum && count != 0 && count < limits.minimum);
            c.output[element] = high ? 1.0 : 0.0;
            count = high ? count + (count < INT_MAX) : 0;
        } else {
            c.output[element] = latched;
        }
    }
    state = latched;
    pulse = count;
}

template <typename Input>
using ChannelRunner = void (*)(const Channel<Input>&, Limits, double&, int&);

template <typename Input>
ChannelRunner<Input> runnerFor(Limits limits) {
    if (limits.minimum != 0) {
        return limits.maximum != 0 ? runChannel<true, true, Input> : runChannel<true, false, Input>;
    }
    return limits.maximum != 0 ? runChannel<false, true, Input> : runChannel<false, false, Input>;
}

void initializeSizes(BlockRecord* block) {
    const int width = paramInt(*block, channelsParam) * paramInt(*block, frameLengthParam);
    const int channels = paramInt(*block, channelsParam);
    block->paramCountExpected = paramTotal;
    block->contStateCount = 0;
    block->discStateCount = 2 * channels;
    block->inputCount = 2;
    for (int port : {resetPort, setPort}) {
        block->inputPorts[port].width = width;
        block->inputPorts[port].directFeedthrough = 1;
    }
    block->outputCount = 1;
    block->outputPorts[0].width = width;
    block->sampleTimeCount = 1;
    block->realWorkCount = channels;
    block->integerWorkCount = channels;
    block->pointerWorkCount = 0;
    block->modeCount = 0;
}

void initializeConditions(BlockRecord* block) {
    const int channels = paramInt(*block, channelsParam);
    const double initial = isOn(paramReal(*block, initialStateParam)) ? 1.0 : 0.0;
    for (int state = 0; state < 2 * channels; ++state) block->discreteStates[state] = initial;
    findInputRuns(*block);
}

template <typename Input>
void runChannels(BlockRecord* block, Input reset, Input set) {
    const int frameLength = paramInt(*block, frameLengthParam);
    const int channels = paramInt(*block, channelsParam);
    const bool channelMajor = paramInt(*block, layoutParam) != 0;
    const FrameLayout layout = FrameLayout::of(channelMajor, frameLength, channels);
    const Limits limits = limitsOf(*block);
    const ChannelRunner<Input> run = runnerFor<Input>(limits);
    for (int k = 0; k < channels; ++k) {
        double& state = block->realWork[k];
        int& pulse = block->integerWork[k];
        state = block->discreteStates[k];
        pulse = roundHalfUp(block->discreteStates[channels + k]);
        const Channel<Input> channel{
            reset,      set, block->outputPorts[0].signal, layout.at(0, k), layout.sampleStride,
            frameLength};
        run(channel, limits, state, pulse);
    }
}

void outputs(BlockRecord* block, int) {
    const InputPort& reset = block->inputPorts[resetPort];
    const InputPort& set = block->inputPorts[setPort];
    if (reset.run != nullptr && set.run != nullptr) {
        runChannels(block, ByRun{reset.run}, ByRun{set.run});
    } else {
        runChannels(block, ByPointer{reset.elementPointers}, ByPointer{set.elementPointers});
    }
}

void update(BlockRecord* block, int) {
    const int channels = paramInt(*block, channelsParam);
    for (int k = 0; k < channels; ++k) {
        block->discreteStates[k] = block->realWork[k];
        block->discreteStates[channels + k] = block->integerWork[k];
    }
}

}  // namespace

void registerPulseLimitedFlipFlop(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = initializeConditions;
    methods.outputs.byRecord = outputs;
    methods.update = update;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
