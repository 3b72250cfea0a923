#include "files/file_exist.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "files/files_fixture.h"

namespace bm7 {
namespace {

using testing::fileBytes;
using testing::scalar;
using testing::ScratchDirectory;
using testing::TestBlock;
using testing::touch;

std::unique_ptr<TestBlock> fileExist(const std::string& name) {
    auto block = std::make_unique<TestBlock>(
        std::vector<std::vector<double>>{textParameter(name), scalar(24576.0 / 22050.0)},
        std::vector<int>{}, std::vector<int>{1});
    registerFileExist(&block->record);
    block->record.methods.initializeSizes(&block->record);
    block->record.methods.initializeSampleTimes(&block->record);
    return block;
}

double probe(TestBlock& block) {
    block.output(0)[0] = -1.0;
    block.record.methods.outputs.byRecord(&block.record, 0);
    return block.output(0)[0];
}

TEST(FileExist, FollowsTheFileAppearingAndDisappearingWithoutTouchingIt) {
    ScratchDirectory dir;
    const std::string stop = dir / "stop.txt";
    auto block = fileExist(stop);
    EXPECT_EQ(probe(*block), 0.0);
    EXPECT_FALSE(std::filesystem::exists(stop));

    touch(stop);
    const auto written = std::filesystem::last_write_time(stop);
    EXPECT_EQ(probe(*block), 1.0);
    EXPECT_EQ(probe(*block), 1.0);
    EXPECT_EQ(fileBytes(stop), "taken");
    EXPECT_EQ(std::filesystem::last_write_time(stop), written);

    std::filesystem::remove(stop);
    EXPECT_EQ(probe(*block), 0.0);
    EXPECT_FALSE(std::filesystem::exists(stop));
    EXPECT_EQ(block->error(), nullptr);
}

}  // namespace
}  // namespace bm7
