#include "driver/nonfinite.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

namespace bm7 {
namespace {

TEST(NonFinites, DoublesCarryTheirExactBitPatterns) {
    ASSERT_TRUE(initializeNonFinites(8));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(rtInf), 0x7FF0000000000000U);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(rtMinusInf), 0xFFF0000000000000U);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(rtNaN), 0x7FFFFFFFFFFFFFFFU);
}

TEST(NonFinites, SinglesCarryTheirExactBitPatterns) {
    ASSERT_TRUE(initializeNonFinites(4));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(rtInfF), 0x7F800000U);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(rtMinusInfF), 0xFF800000U);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(rtNaNF), 0x7FFFFFFFU);
}

TEST(NonFinites, OtherRealSizesAreRefused) {
    EXPECT_FALSE(initializeNonFinites(2));
    EXPECT_FALSE(initializeNonFinites(16));
}

}  // namespace
}  // namespace bm7
