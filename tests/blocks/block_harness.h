// Sets up one block record the way the model registration does: parameters, ports or
// vectors, zero-filled states and work areas, a SimInfo with the rate hitting, and
// calls the registration and sizing methods in their order. Terminates on destruction.
#pragma once

#include <initializer_list>
#include <vector>

#include "driver/block.h"

namespace bm7::blocktest {

// Parameter runs: rows, cols, then the values.
std::vector<double> scalar(double value);
std::vector<double> row(std::initializer_list<double> values);
std::vector<double> column(std::initializer_list<double> values);

using RegisterKind = void (*)(BlockRecord*);

class BlockHarness {
public:
    // Style 2: `inputPorts` and `outputPorts` port slots, sized by initializeSizes.
    BlockHarness(RegisterKind registerKind, std::vector<std::vector<double>> params, int inputPorts,
                 int outputPorts);
    // Style 1: the registration writes the vector widths after initializeSizes.
    BlockHarness(RegisterKind registerKind, std::vector<std::vector<double>> params, int inputWidth,
                 int outputWidth, bool style1);
    ~BlockHarness();
    BlockHarness(const BlockHarness&) = delete;
    BlockHarness& operator=(const BlockHarness&) = delete;

    // Input data is contiguous per port (style 1: port 0 is the input vector) and the
    // element pointers point into it, so values are copied in, never reassigned.
    void setInput(const std::vector<double>& values, int port = 0);
    const std::vector<double>& input(int port = 0) const { return inputData_[port]; }
    const double* output(int port = 0) const { return block.outputPorts[port].signal; }
    std::vector<double> outputCopy(int port = 0) const;
    // Style 1 output vector.
    std::vector<double>& outputVector() { return outputVectorData_; }

    void initializeConditions() { callInitializeConditions(block); }
    void outputs() { callOutputs(block, 0); }
    void update() { callUpdate(block, 0); }
    void step() {
        outputs();
        update();
    }
    const char* error() const { return root.errorStatus; }

    BlockRecord root;
    BlockRecord block;
    SimInfo sim;

private:
    void registerAndSize(RegisterKind registerKind);
    void allocateVectors();

    std::vector<std::vector<double>> paramRuns_;
    std::vector<ParamValue> params_;
    std::vector<InputPort> inputPorts_;
    std::vector<OutputPort> outputPorts_;
    std::vector<std::vector<double>> inputData_;
    std::vector<std::vector<const double*>> elementPointers_;
    std::vector<std::vector<double>> outputData_;
    std::vector<double> outputVectorData_;
    std::vector<double> states_;
    std::vector<int> integerWork_;
    std::vector<double> realWork_;
    std::vector<void*> pointerWork_;
    double taskTimes_[1] = {0.0};
    int sampleHits_[1] = {1};
    double period_ = 0.0;
    double offset_ = 0.0;
    int taskId_ = 0;
};

}  // namespace bm7::blocktest
