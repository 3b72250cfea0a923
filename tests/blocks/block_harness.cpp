#include "blocks/block_harness.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace bm7::blocktest {

std::vector<double> scalar(double value) {
    return {1, 1, value};
}

std::vector<double> row(std::initializer_list<double> values) {
    std::vector<double> run{1, static_cast<double>(values.size())};
    run.insert(run.end(), values);
    return run;
}

std::vector<double> column(std::initializer_list<double> values) {
    std::vector<double> run{static_cast<double>(values.size()), 1};
    run.insert(run.end(), values);
    return run;
}

BlockHarness::BlockHarness(RegisterKind registerKind, std::vector<std::vector<double>> params,
                           int inputPorts, int outputPorts)
    : paramRuns_(std::move(params)),
      inputPorts_(static_cast<std::size_t>(inputPorts)),
      outputPorts_(static_cast<std::size_t>(outputPorts)) {
    block.inputPorts = inputPorts_.data();
    block.outputPorts = outputPorts_.data();
    registerAndSize(registerKind);
    inputData_.resize(inputPorts_.size());
    elementPointers_.resize(inputPorts_.size());
    for (std::size_t p = 0; p < inputPorts_.size(); ++p) {
        const auto width = static_cast<std::size_t>(std::max(inputPorts_[p].width, 0));
        inputData_[p].assign(width, 0.0);
        for (std::size_t i = 0; i < width; ++i) elementPointers_[p].push_back(&inputData_[p][i]);
        inputPorts_[p].elementPointers = elementPointers_[p].data();
    }
    outputData_.resize(outputPorts_.size());
    for (std::size_t p = 0; p < outputPorts_.size(); ++p) {
        outputData_[p].assign(static_cast<std::size_t>(std::max(outputPorts_[p].width, 0)), 0.0);
        outputPorts_[p].signal = outputData_[p].data();
    }
    allocateVectors();
}

BlockHarness::BlockHarness(RegisterKind registerKind, std::vector<std::vector<double>> params,
                           int inputWidth, int outputWidth, bool)
    : paramRuns_(std::move(params)) {
    registerAndSize(registerKind);
    block.inputCount = inputWidth;
    block.outputCount = outputWidth;
    inputData_.assign(1, std::vector<double>(static_cast<std::size_t>(inputWidth), 0.0));
    elementPointers_.resize(1);
    for (double& element : inputData_[0]) elementPointers_[0].push_back(&element);
    block.inputPointers = elementPointers_[0].data();
    outputVectorData_.assign(static_cast<std::size_t>(outputWidth), 0.0);
    block.outputVector = outputVectorData_.data();
    allocateVectors();
    block.stateVector = block.discreteStates;
}

BlockHarness::~BlockHarness() {
    callTerminate(block);
}

void BlockHarness::setInput(const std::vector<double>& values, int port) {
    std::vector<double>& data = inputData_[static_cast<std::size_t>(port)];
    if (values.size() != data.size()) throw std::length_error("input width differs");
    std::copy(values.begin(), values.end(), data.begin());
}

std::vector<double> BlockHarness::outputCopy(int port) const {
    const double* signal = output(port);
    return {signal, signal + block.outputPorts[port].width};
}

void BlockHarness::registerAndSize(RegisterKind registerKind) {
    root.errorRecord = &root;
    block.root = &root;
    block.errorRecord = &root;
    sim.taskTimes = taskTimes_;
    sim.sampleHits = sampleHits_;
    sim.timingReady = 1;
    block.simInfo = &sim;
    for (const auto& run : paramRuns_) params_.push_back({run.data()});
    block.params = params_.data();
    block.paramCount = static_cast<int>(params_.size());
    block.samplePeriods = &period_;
    block.sampleOffsets = &offset_;
    block.sampleTimeTaskIds = &taskId_;
    registerKind(&block);
    block.methods.initializeSizes(&block);
    block.methods.initializeSampleTimes(&block);
}

// Exactly the declared sizes, so that the sanitizer catches any access beyond them.
void BlockHarness::allocateVectors() {
    states_.assign(static_cast<std::size_t>(std::max(block.discStateCount, 0)), 0.0);
    integerWork_.assign(static_cast<std::size_t>(std::max(block.integerWorkCount, 0)), 0);
    realWork_.assign(static_cast<std::size_t>(std::max(block.realWorkCount, 0)), 0.0);
    pointerWork_.assign(static_cast<std::size_t>(std::max(block.pointerWorkCount, 0)), nullptr);
    block.discreteStates = states_.data();
    block.integerWork = integerWork_.data();
    block.realWork = realWork_.data();
    block.pointerWork = pointerWork_.data();
}

}  // namespace bm7::blocktest
