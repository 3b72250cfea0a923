#include "driver/huge_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>

namespace bm7 {
namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

// Sizes below, at and across a page boundary: each block is aligned, zeroed and all of
// it usable, and blocks freed in any order leave the others intact.
TEST(HugePages, BlocksOfAnySizeAreAlignedZeroedAndApart) {
    const std::size_t sizes[] = {8, kHugePage - 8, kHugePage, kHugePage + 8, 3 * kHugePage + 4096};
    std::vector<std::pair<unsigned char*, std::size_t>> blocks;
    for (std::size_t size : sizes) {
        auto* block = static_cast<unsigned char*>(allocateHugePages(size));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kHugePage, 0U) << size;
        EXPECT_EQ(block[0], 0);
        EXPECT_EQ(block[size - 1], 0);
        std::fill(block, block + size, static_cast<unsigned char>(size % 251));
        blocks.emplace_back(block, size);
    }
    freeHugePages(blocks[1].first, blocks[1].second);
    freeHugePages(blocks[3].first, blocks[3].second);
    for (std::size_t i : {0, 2, 4}) {
        const auto [block, size] = blocks[i];
        EXPECT_EQ(block[0], size % 251);
        EXPECT_EQ(block[size - 1], size % 251);
        freeHugePages(block, size);
    }
}

TEST(HugePages, AVectorOnThemGrowsAndKeepsItsValues) {
    HugePageVector<double> values(1000, 0.5);
    values.resize(400000);
    std::iota(values.begin() + 1000, values.end(), 1.0);
    EXPECT_EQ(values[999], 0.5);
    EXPECT_EQ(values.back(), 399000.0);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values.data()) % kHugePage, 0U);
}

}  // namespace
}  // namespace bm7
