// Shared helpers of the file block tests: a block record wired to parameter runs and to
// input signals, and a private scratch directory per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/block.h"
#include "files/file_settings.h"
#include "support/scratch_directory.h"

namespace bm7::testing {

inline std::vector<double> scalar(double value) {
    return {1.0, 1.0, value};
}

// A style 2 record over its own parameter runs, input signals and output signals.
class TestBlock {
public:
    TestBlock(std::vector<std::vector<double>> params, std::vector<int> inputWidths,
              std::vector<int> outputWidths = {})
        : runs_(std::move(params)) {
        for (const auto& run : runs_) params_.push_back({run.data()});
        for (int width : inputWidths) inputs_.emplace_back(static_cast<std::size_t>(width));
        for (auto& signal : inputs_) {
            pointers_.emplace_back();
            for (double& element : signal) pointers_.back().push_back(&element);
        }
        for (std::size_t i = 0; i < inputs_.size(); ++i)
            inputPorts_.push_back({inputWidths[i], 0, pointers_[i].data()});
        for (int width : outputWidths) outputs_.emplace_back(static_cast<std::size_t>(width));
        for (std::size_t i = 0; i < outputs_.size(); ++i)
            outputPorts_.push_back({outputWidths[i], outputs_[i].data()});
        record.root = &root;
        record.errorRecord = &root;
        root.errorRecord = &root;
        record.params = params_.data();
        record.paramCount = static_cast<int>(params_.size());
        record.inputPorts = inputPorts_.data();
        record.outputPorts = outputPorts_.data();
        record.integerWork = integerWork_;
        record.pointerWork = pointerWork_;
        record.samplePeriods = &period_;
        record.sampleOffsets = &offset_;
    }
    TestBlock(const TestBlock&) = delete;
    TestBlock& operator=(const TestBlock&) = delete;

    std::vector<double>& input(int port) { return inputs_[static_cast<std::size_t>(port)]; }
    std::vector<double>& output(int port) { return outputs_[static_cast<std::size_t>(port)]; }
    const char* error() const { return root.errorStatus; }
    double period() const { return period_; }
    double offset() const { return offset_; }

    BlockRecord record;
    BlockRecord root;

private:
    std::vector<std::vector<double>> runs_;
    std::vector<ParamValue> params_;
    std::vector<std::vector<double>> inputs_;
    std::vector<std::vector<const double*>> pointers_;
    std::vector<InputPort> inputPorts_;
    std::vector<std::vector<double>> outputs_;
    std::vector<OutputPort> outputPorts_;
    int integerWork_[4] = {};
    void* pointerWork_[4] = {};
    double period_ = 0.0;
    double offset_ = 0.0;
};

inline std::string fileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void touch(const std::string& name) {
    std::ofstream(name) << "taken";
}

}  // namespace bm7::testing
