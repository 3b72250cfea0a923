#include "model/pulse_limited_flip_flop.h"

#include <climits>
#include <cmath>

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

// Logical inputs: NaN counts as 0.
bool isOn(double value) {
    return value < 0.0 || value > 0.0;
}

struct Limits {
    int minimum;  // 0: no minimum
    int maximum;  // 0: no maximum
};

// An infinite maximum means none; so does a NaN one, which has no integer value.
Limits limitsOf(const BlockRecord& block) {
    const double maximum = paramReal(block, maximumParam);
    return {paramInt(block, minimumParam), std::isfinite(maximum) ? roundHalfUp(maximum) : 0};
}

struct Channel {
    const double* const* reset;
    const double* const* set;
    double* output;
    int first;
    int stride;
    int frameLength;
};

// One channel over one frame; `pulse` counts the consecutive 1.0 outputs so far. The
// maximum is tested against the count before this sample's increment. The count stops
// at INT_MAX rather than overflow: no comparison with a pulse length changes.
template <bool hasMinimum, bool hasMaximum>
void runChannel(const Channel& channel, Limits limits, double& state, int& pulse) {
    int element = channel.first;
    for (int sample = 0; sample < channel.frameLength; ++sample, element += channel.stride) {
        if (isOn(*channel.reset[element]) || (hasMaximum && pulse >= limits.maximum)) {
            state = 0.0;
        } else if (isOn(*channel.set[element])) {
            state = 1.0;
        }
        if (hasMinimum || hasMaximum) {
            const bool high = isOn(state) || (hasMinimum && pulse != 0 && pulse < limits.minimum);
            channel.output[element] = high ? 1.0 : 0.0;
            pulse = high ? pulse + (pulse < INT_MAX) : 0;
        } else {
            channel.output[element] = state;
        }
    }
}

using ChannelRunner = void (*)(const Channel&, Limits, double&, int&);

ChannelRunner runnerFor(Limits limits) {
    if (limits.minimum != 0) {
        return limits.maximum != 0 ? runChannel<true, true> : runChannel<true, false>;
    }
    return limits.maximum != 0 ? runChannel<false, true> : runChannel<false, false>;
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
}

void outputs(BlockRecord* block, int) {
    const int frameLength = paramInt(*block, frameLengthParam);
    const int channels = paramInt(*block, channelsParam);
    const bool channelMajor = paramInt(*block, layoutParam) != 0;
    const FrameLayout layout = FrameLayout::of(channelMajor, frameLength, channels);
    const Limits limits = limitsOf(*block);
    const ChannelRunner run = runnerFor(limits);
    for (int k = 0; k < channels; ++k) {
        double& state = block->realWork[k];
        int& pulse = block->integerWork[k];
        state = block->discreteStates[k];
        pulse = roundHalfUp(block->discreteStates[channels + k]);
        const Channel channel{block->inputPorts[resetPort].elementPointers,
                              block->inputPorts[setPort].elementPointers,
                              block->outputPorts[0].signal,
                              layout.at(0, k),
                              layout.sampleStride,
                              frameLength};
        run(channel, limits, state, pulse);
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
