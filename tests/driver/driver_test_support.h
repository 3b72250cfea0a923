// Shared by the driver's tests: a root record with its SimInfo and rate arrays as a
// model's registration leaves them, captured output streams, a scratch directory and
// a reader of matrix files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/block.h"
#include "support/captured_stream.h"
#include "support/scratch_directory.h"

namespace bm7::driver_test {

inline constexpr double kFrameStep = 0.3715192743764172;

struct TestRoot {
    explicit TestRoot(std::vector<double> ratePeriods, std::vector<double> rateOffsets = {})
        : periods(std::move(ratePeriods)), offsets(std::move(rateOffsets)) {
        const std::size_t count = periods.size();
        offsets.resize(count, 0.0);
        taskTimes.assign(count, 0.0);
        hits.assign(count, 0);
        taskIds.assign(count, 0);
        root.name = "brakmoor7";
        root.path = "brakmoor7";
        root.errorRecord = &root;
        root.sampleTimeCount = static_cast<int>(count);
        root.samplePeriods = periods.data();
        root.sampleOffsets = offsets.data();
        root.sampleTimeTaskIds = taskIds.data();
        root.simInfo = &sim;
        sim.taskTimes = taskTimes.data();
        sim.sampleHits = hits.data();
        sim.fixedStepSize = count > 0 && periods[0] != 0.0 ? periods[0] : kFrameStep;
    }
    TestRoot(const TestRoot&) = delete;
    TestRoot& operator=(const TestRoot&) = delete;

    std::vector<double> periods;
    std::vector<double> offsets;
    std::vector<double> taskTimes;
    std::vector<int> hits;
    std::vector<int> taskIds;
    SimInfo sim;
    BlockRecord root;
};

using testing::CapturedStream;
using testing::ScratchDirectory;

struct MatrixRecordRead {
    std::int32_t type = -1;
    std::int32_t rows = 0;
    std::int32_t cols = 0;
    std::int32_t imagf = -1;
    std::string name;
    std::vector<double> values;  // column after column
};

// Reads every record of a matrix file; a truncated record ends the list.
inline std::vector<MatrixRecordRead> readMatrixFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    std::vector<MatrixRecordRead> records;
    std::size_t at = 0;
    while (at + 20 <= bytes.size()) {
        std::int32_t header[5];
        std::memcpy(header, bytes.data() + at, sizeof header);
        at += sizeof header;
        MatrixRecordRead record{header[0], header[1], header[2], header[3], {}, {}};
        const auto nameLength = static_cast<std::size_t>(header[4]);
        const auto count =
            static_cast<std::size_t>(header[1]) * static_cast<std::size_t>(header[2]);
        if (at + nameLength + 8 * count > bytes.size() || nameLength == 0) break;
        record.name.assign(bytes.data() + at, nameLength - 1);
        EXPECT_EQ(bytes[at + nameLength - 1], '\0');
        at += nameLength;
        record.values.resize(count);
        std::memcpy(record.values.data(), bytes.data() + at, 8 * count);
        at += 8 * count;
        records.push_back(record);
    }
    EXPECT_EQ(at, bytes.size()) << "bytes after the last whole record";
    return records;
}

}  // namespace bm7::driver_test
