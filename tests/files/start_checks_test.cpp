#include "files/start_checks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "files/files_fixture.h"
#include "files/stop_file.h"
#include "support/captured_stream.h"
#include "support/small_tmpfs.h"

namespace bm7 {
namespace {

using testing::ScratchDirectory;
using testing::SmallTmpfs;
using testing::touch;

using Warnings = testing::CapturedStream;

// A process id that no longer runs: a child that has ended and been waited for.
pid_t endedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(WritableFolders, AReadOnlyFileSystemIsFoundWithTheFolderAndTheReason) {
    SmallTmpfs disk("64k");
    if (!disk.available()) GTEST_SKIP() << "no tmpfs: " << disk.why();
    std::filesystem::create_directory(disk / "Calls");
    touch(disk / "Calls/LogDick.txt");
    ASSERT_TRUE(disk.makeReadOnly());
    EXPECT_EQ(checkFolderWritable(disk / "Calls", "clip directory"),
              "Cannot write in clip directory \"" + (disk / "Calls") + "\": Read-only file system");
    EXPECT_NE(checkLogWritable(disk / "Calls/LogDick.txt").find("Read-only file system"),
              std::string::npos);
}

TEST(WritableFolders, AWritableFolderPassesAndKeepsNoProbe) {
    ScratchDirectory dir;
    EXPECT_EQ(checkFolderWritable(dir.path(), "clip directory"), "");
    EXPECT_EQ(checkLogWritable(dir / "LogDick.txt"), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(WritableFolders, ALogThatCannotBeAppendedToIsFoundAtStart) {
    ScratchDirectory dir;
    std::filesystem::create_directory(dir / "LogDick.txt");
    EXPECT_EQ(checkLogWritable(dir / "LogDick.txt"),
              "Cannot write in log file \"" + (dir / "LogDick.txt") + "\": Is a directory");
}

TEST(StaleTemporaryFiles, OnlyThoseOfEndedWritersAreRemoved) {
    ScratchDirectory dir;
    const std::string ended = std::to_string(endedProcess());
    const std::string running = std::to_string(::getpid());
    touch(dir / (".Dick_000.00.04_00.wav." + ended + "-0.part"));
    touch(dir / (".Dick_000.00.14_00.wav." + running + "-3.part"));
    touch(dir / ".notes.part");
    touch(dir / "Dick_000.00.04_00.wav");
    EXPECT_EQ(removeStaleTemporaryFiles(dir.path()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir / (".Dick_000.00.04_00.wav." + ended + "-0.part")));
    EXPECT_TRUE(std::filesystem::exists(dir / (".Dick_000.00.14_00.wav." + running + "-3.part")));
    EXPECT_TRUE(std::filesystem::exists(dir / ".notes.part"));
    EXPECT_TRUE(std::filesystem::exists(dir / "Dick_000.00.04_00.wav"));
}

TEST(StopFileAtStart, ALeftoverIsReportedAndRemoved) {
    ScratchDirectory dir;
    touch(dir / "stop.txt");
    Warnings warnings;
    EXPECT_EQ(clearStopFile(dir / "stop.txt", warnings.get()), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "stop.txt"));
    EXPECT_EQ(warnings.text(), "brakmoor7: removed the stop file " + (dir / "stop.txt") +
                                   " left from an earlier stop\n");
}

TEST(StopFileAtStart, AFolderThatDoesNotExistIsAWarning) {
    ScratchDirectory dir;
    Warnings warnings;
    EXPECT_EQ(clearStopFile(dir / "none/stop.txt", warnings.get()), "");
    EXPECT_NE(warnings.text().find("only a signal can stop this run"), std::string::npos);
    Warnings quiet;
    EXPECT_EQ(clearStopFile(dir / "stop.txt", quiet.get()), "");
    EXPECT_EQ(quiet.text(), "");
}

TEST(StopFileAtStart, OneThatCannotBeRemovedEndsTheRunNamingIt) {
    SmallTmpfs disk("64k");
    if (!disk.available()) GTEST_SKIP() << "no tmpfs: " << disk.why();
    touch(disk / "stop.txt");
    ASSERT_TRUE(disk.makeReadOnly());
    Warnings warnings;
    EXPECT_EQ(clearStopFile(disk / "stop.txt", warnings.get()),
              "Cannot remove the stop file \"" + (disk / "stop.txt") +
                  "\" left from an earlier stop: Read-only file system");
}

TEST(StopFileAtTheEnd, IsNamedAndRemoved) {
    ScratchDirectory dir;
    touch(dir / "stop.txt");
    Warnings warnings;
    retireStopFile(dir / "stop.txt", warnings.get());
    EXPECT_EQ(warnings.text(), "Stopped by the stop file " + (dir / "stop.txt") + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "stop.txt"));
}

}  // namespace
}  // namespace bm7
