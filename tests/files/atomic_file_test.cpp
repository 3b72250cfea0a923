#include "files/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/file_contents.h"
#include "support/scratch_directory.h"

namespace bm7 {
namespace {

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(AtomicFile, ACommittedFileHoldsItsBytesUnderTheFinalNameAndNothingElseRemains) {
    testing::ScratchDirectory scratch;
    std::string problem;
    ASSERT_TRUE(writeFileAtomically(scratch / "table.csv", "a,b\n1,2\n", problem)) << problem;
    EXPECT_EQ(testing::fileContents(scratch / "table.csv"), "a,b\n1,2\n");
    EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"table.csv"});
}

TEST(AtomicFile, AnAbandonedOrFailedWriteLeavesTheOldFileAsItWas) {
    testing::ScratchDirectory scratch;
    std::string problem;
    ASSERT_TRUE(writeFileAtomically(scratch / "clip.wav", "old", problem));
    {
        AtomicFile file;
        ASSERT_TRUE(file.open(scratch / "clip.wav", problem));
        std::fputs("half of a new", file.stream());
        EXPECT_TRUE(
            isTemporaryFileName(std::filesystem::path(file.temporaryPath()).filename().string()));
    }  // destroyed without a commit
    AtomicFile refused;
    ASSERT_TRUE(refused.open(scratch / "clip.wav", problem));
    EXPECT_FALSE(refused.commit(problem, false));
    // A clip that finds its name taken by the time it is stored leaves the other alone.
    AtomicFile late;
    ASSERT_TRUE(late.open(scratch / "clip.wav", problem));
    std::fputs("another clip", late.stream());
    EXPECT_FALSE(late.commit(problem, true, FinalName::mustBeNew));
    EXPECT_EQ(late.error(), EEXIST);
    EXPECT_EQ(testing::fileContents(scratch / "clip.wav"), "old");
    EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"clip.wav"});
}

TEST(AtomicFile, AFolderThatCannotTakeTheFileIsNamedWithTheSystemsReason) {
    testing::ScratchDirectory scratch;
    AtomicFile file;
    std::string problem;
    EXPECT_FALSE(file.open(scratch / "missing/table.csv", problem));
    EXPECT_NE(problem.find("missing/.table.csv."), std::string::npos) << problem;
    EXPECT_NE(problem.find("No such file or directory"), std::string::npos) << problem;
    EXPECT_EQ(file.error(), ENOENT);
}

TEST(AtomicFile, WritersRacingForOneNameLeaveOneWholeVersion) {
    testing::ScratchDirectory scratch;
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&scratch, w] {
            const std::string text(100000, static_cast<char>('a' + w));
            for (int i = 0; i < 20; ++i) {
                std::string problem;
                EXPECT_TRUE(writeFileAtomically(scratch / "journal", text, problem)) << problem;
            }
        });
    }
    for (auto& writer : writers) writer.join();
    const std::string result = testing::fileContents(scratch / "journal");
    ASSERT_EQ(result.size(), 100000u);
    EXPECT_EQ(result, std::string(100000, result[0]));
    EXPECT_EQ(namesIn(scratch.path()).size(), 1u);
}

TEST(AtomicFile, OnlyDottedPartNamesCountAsTemporary) {
    EXPECT_TRUE(isTemporaryFileName(".Dick_000.00.04_00.wav.12-0.part"));
    EXPECT_FALSE(isTemporaryFileName("Dick_000.00.04_00.wav"));
    EXPECT_FALSE(isTemporaryFileName("notes.part"));
    EXPECT_FALSE(isTemporaryFileName(".part"));
}

}  // namespace
}  // namespace bm7
