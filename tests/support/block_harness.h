// A stand-alone block record for tests and benchmarks: it owns what the model's
// registration would otherwise provide (scalar parameters, port signals, state and work
// areas, one sample time) and runs a kind's methods in the order of a model run.
#pragma once

#include <algorithm>
#include <span>
#include <stdexcept>
#include <vector>

#include "driver/block.h"

namespace bm7 {

class BlockHarness {
public:
    static constexpr int maxPorts = 4;

    // Registers the kind, then lets it declare its sizes and sample time, and sizes the
    // signals and areas from what it declared.
    BlockHarness(void (*registerKind)(BlockRecord*), const std::vector<double>& scalars)
        : inputPorts_(maxPorts), outputPorts_(maxPorts) {
        for (double value : scalars) paramRuns_.push_back({1.0, 1.0, value});
        for (const std::vector<double>& run : paramRuns_) params_.push_back({run.data()});
        root_.errorRecord = &root_;
        simInfo_.taskTimes = taskTimes_;
        simInfo_.sampleHits = sampleHits_;
        record_.root = &root_;
        record_.errorRecord = &root_;
        record_.simInfo = &simInfo_;
        record_.paramCount = static_cast<int>(params_.size());
        record_.params = params_.data();
        record_.inputPorts = inputPorts_.data();
        record_.outputPorts = outputPorts_.data();
        record_.samplePeriods = &period_;
        record_.sampleOffsets = &offset_;
        record_.sampleTimeTaskIds = &taskId_;
        registerKind(&record_);
        record_.methods.initializeSizes(&record_);
        record_.methods.initializeSampleTimes(&record_);
        allocateAreas();
        allocateSignals();
    }
    BlockHarness(const BlockHarness&) = delete;
    BlockHarness& operator=(const BlockHarness&) = delete;

    BlockRecord& record() { return record_; }
    const char* error() const { return root_.errorStatus; }
    // Input signals keep their storage for the whole run: the element pointers refer to it.
    std::span<double> input(int port) { return inputs_[static_cast<std::size_t>(port)]; }
    void setInput(int port, const std::vector<double>& frame) {
        const std::span<double> signal = input(port);
        if (frame.size() != signal.size()) throw std::length_error("frame does not fit the port");
        std::copy(frame.begin(), frame.end(), signal.begin());
    }
    std::vector<double>& output(int port = 0) { return outputs_[static_cast<std::size_t>(port)]; }
    std::vector<double>& states() { return states_; }
    std::vector<double>& realWork() { return realWork_; }
    std::vector<int>& integerWork() { return integerWork_; }

    void initializeConditions() { callInitializeConditions(record_); }

    // Copies one frame into each input port in port order, then runs outputs and update.
    template <class... Frames>
    const std::vector<double>& step(const Frames&... frames) {
        int port = 0;
        (setInput(port++, frames), ...);
        callOutputs(record_, 0);
        callUpdate(record_, 0);
        return output();
    }

private:
    static std::size_t count(int declared) {
        return static_cast<std::size_t>(std::max(declared, 0));
    }

    void allocateAreas() {
        states_.assign(count(record_.discStateCount), 0.0);
        realWork_.assign(count(record_.realWorkCount), 0.0);
        integerWork_.assign(count(record_.integerWorkCount), 0);
        pointerWork_.assign(count(record_.pointerWorkCount), nullptr);
        record_.discreteStates = states_.data();
        record_.realWork = realWork_.data();
        record_.integerWork = integerWork_.data();
        record_.pointerWork = pointerWork_.data();
    }

    void allocateSignals() {
        inputs_.resize(count(record_.inputCount));
        elementPointers_.resize(inputs_.size());
        for (std::size_t port = 0; port < inputs_.size(); ++port) {
            inputs_[port].assign(count(inputPorts_[port].width), 0.0);
            for (const double& element : inputs_[port]) elementPointers_[port].push_back(&element);
            inputPorts_[port].elementPointers = elementPointers_[port].data();
        }
        outputs_.resize(count(record_.outputCount));
        for (std::size_t port = 0; port < outputs_.size(); ++port) {
            outputs_[port].assign(count(outputPorts_[port].width), 0.0);
            outputPorts_[port].signal = outputs_[port].data();
        }
    }

    std::vector<std::vector<double>> paramRuns_;
    std::vector<ParamValue> params_;
    std::vector<InputPort> inputPorts_;
    std::vector<OutputPort> outputPorts_;
    std::vector<std::vector<double>> inputs_;
    std::vector<std::vector<const double*>> elementPointers_;
    std::vector<std::vector<double>> outputs_;
    std::vector<double> states_;
    std::vector<double> realWork_;
    std::vector<int> integerWork_;
    std::vector<void*> pointerWork_;
    double taskTimes_[3] = {};
    int sampleHits_[3] = {1, 1, 1};
    double period_ = 0.0;
    double offset_ = 0.0;
    int taskId_ = 0;
    SimInfo simInfo_;
    BlockRecord root_;
    BlockRecord record_;
};

}  // namespace bm7
