#include "driver/matrix_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace bm7 {
namespace {

TEST(MatrixRecord, HoldsHeaderNameAndColumnMajorValues) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    const double values[] = {1, 4, 2, 5, 3, 6};
    ASSERT_TRUE(writeMatrixRecord(stream, "rt_x", 2, 3, values));
    std::fclose(stream);

    ASSERT_EQ(size, 20U + 5U + 48U);
    std::int32_t header[5];
    std::memcpy(header, buffer, sizeof header);
    EXPECT_EQ(header[0], 0);
    EXPECT_EQ(header[1], 2);
    EXPECT_EQ(header[2], 3);
    EXPECT_EQ(header[3], 0);
    EXPECT_EQ(header[4], 5);
    EXPECT_EQ(std::memcmp(buffer + 20, "rt_x", 5), 0);
    EXPECT_EQ(std::memcmp(buffer + 25, values, sizeof values), 0);
    std::free(buffer);
}

TEST(MatrixRecord, ReportsAFailingWrite) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    const double value = 1.0;
    EXPECT_FALSE(writeMatrixRecord(full, "x", 1, 1, &value));
    std::fclose(full);
}

}  // namespace
}  // namespace bm7
