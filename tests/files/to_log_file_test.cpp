#include "files/to_log_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <regex>
#include <string>

#include "files/file_guard.h"
#include "files/files_fixture.h"
#include "support/captured_stream.h"

namespace bm7 {
namespace {

using testing::fileBytes;
using testing::scalar;
using testing::ScratchDirectory;
using testing::TestBlock;

constexpr std::time_t kMarch5th2024 = 1709622489;  // Tue 2024-03-05 07:08:09 UTC

std::unique_ptr<TestBlock> toLogFile(const std::string& name, int width = 1, int clock = 1) {
    auto block = std::make_unique<TestBlock>(
        std::vector<std::vector<double>>{scalar(width), scalar(clock), textParameter(name)},
        std::vector<int>{std::max(width, 0)});
    registerToLogFile(&block->record);
    block->record.methods.initializeSizes(&block->record);
    return block;
}

std::string stampOf(std::time_t now, bool utc) {
    char text[kLogStampSize];
    logStamp(now, utc, text);
    return text;
}

TEST(LogStamp, IsTwentyFourCharactersWithEnglishNamesAndATwoDigitDay) {
    EXPECT_EQ(stampOf(kMarch5th2024, true), "Tue Mar 05 07:08:09 2024");
    EXPECT_EQ(stampOf(0, true), "Thu Jan 01 00:00:00 1970");
    const std::regex shape(
        "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|"
        "Oct|Nov|Dec) \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}");
    EXPECT_TRUE(std::regex_match(stampOf(std::time(nullptr), false), shape));
}

TEST(LogLines, CreateAMissingLogAndExtendAnExistingOne) {
    ScratchDirectory dir;
    const std::string log = dir / "LogDick.txt";
    auto block = toLogFile(log, 3);
    block->input(0) = {-3.5, 0.0, 123456.789};
    ASSERT_EQ(appendLogLine(block->record, kMarch5th2024), nullptr);
    const std::string line =
        "Tue Mar 05 07:08:09 2024 -3.500000000000000e+00 0.000000000000000e+00 "
        "1.234567890000000e+05 \n";
    EXPECT_EQ(fileBytes(log), line);
    ASSERT_EQ(appendLogLine(block->record, kMarch5th2024), nullptr);
    EXPECT_EQ(fileBytes(log), line + line);
}

TEST(LogLines, AnEmptyNameTurnsTheLogOffWithoutAnError) {
    auto block = toLogFile("");
    EXPECT_EQ(appendLogLine(block->record, kMarch5th2024), nullptr);
}

TEST(LogLines, PrintNonFiniteValuesAsTheCLibrarySpellsThemAndEndTheLine) {
    ScratchDirectory dir;
    const std::string log = dir / "log.txt";
    auto block = toLogFile(log, 2);
    block->input(0) = {-std::numeric_limits<double>::infinity(), std::nan("")};
    ASSERT_EQ(appendLogLine(block->record, kMarch5th2024), nullptr);
    EXPECT_EQ(fileBytes(log), "Tue Mar 05 07:08:09 2024 -inf nan \n");
}

TEST(LogLines, AWidthOfZeroWritesTheStampAlone) {
    ScratchDirectory dir;
    const std::string log = dir / "log.txt";
    auto block = toLogFile(log, 0);
    ASSERT_EQ(appendLogLine(block->record, kMarch5th2024), nullptr);
    EXPECT_EQ(fileBytes(log), "Tue Mar 05 07:08:09 2024 \n");
}

TEST(LogLines, TwoRunsAppendToOneLogThroughTheirUpdates) {
    ScratchDirectory dir;
    const std::string log = dir / "LogDick.txt";
    for (double level : {-41.25, -38.5}) {
        auto block = toLogFile(log);
        block->input(0) = {level};
        block->record.methods.update(&block->record, 0);
        EXPECT_EQ(block->error(), nullptr);
    }
    const std::regex lines(
        "(\\w{3} \\w{3} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4} -4\\.125000000000000e\\+01 \n)"
        "(\\w{3} \\w{3} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4} -3\\.850000000000000e\\+01 \n)");
    EXPECT_TRUE(std::regex_match(fileBytes(log), lines)) << fileBytes(log);
}

TEST(LogFailures, AreReportedWithTheirMessages) {
    ScratchDirectory dir;
    auto unopenable = toLogFile(dir / "missing/log.txt");
    unopenable->record.methods.update(&unopenable->record, 0);
    EXPECT_STREQ(unopenable->error(), "Error opening log file");

    // The line fits the stream's buffer, so the failure only shows when it is flushed.
    auto full = toLogFile("/dev/full");
    full->record.methods.update(&full->record, 0);
    EXPECT_STREQ(full->error(), "Error writing log file");
}

// A To Log File block that reaches a FileGuard, as the model's does; the guard's
// warnings are captured.
struct GuardedLog {
    explicit GuardedLog(const std::string& name)
        : guard(0, 0.0, warnings.get()), block(toLogFile(name)) {
        block->record.pointerWork = slots;
        placeFileGuard(block->record, &guard);
    }
    void update(double level) {
        block->input(0) = {level};
        block->record.methods.update(&block->record, 0);
    }
    testing::CapturedStream warnings;
    FileGuard guard;
    std::unique_ptr<TestBlock> block;
    void* slots[1] = {};
};

TEST(LogWithoutSpace, KeepsTheLineAndWritesItBeforeTheNextOne) {
    ScratchDirectory dir;
    const std::string log = dir / "LogDick.txt";
    // Every write to the log fails for lack of space until the link is gone.
    std::filesystem::create_symlink("/dev/full", log);
    GuardedLog logger(log);
    logger.update(-41.25);
    EXPECT_EQ(logger.block->error(), nullptr);
    EXPECT_NE(logger.warnings.text().find("1 line kept"), std::string::npos)
        << logger.warnings.text();

    std::filesystem::remove(log);
    logger.update(-38.5);
    EXPECT_EQ(logger.block->error(), nullptr);
    const std::regex lines(
        "(\\w{3} \\w{3} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4} -4\\.125000000000000e\\+01 \n)"
        "(\\w{3} \\w{3} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4} -3\\.850000000000000e\\+01 \n)");
    EXPECT_TRUE(std::regex_match(fileBytes(log), lines)) << fileBytes(log);
    EXPECT_TRUE(logger.guard.keptLogLines().empty());
}

TEST(LogWithoutSpace, ShowsTheKeptLinesAtTheEndRatherThanLoseThem) {
    GuardedLog logger("/dev/full");
    logger.update(-41.25);
    logger.block->record.methods.terminate(&logger.block->record);
    EXPECT_NE(logger.warnings.text().find("could not be appended to /dev/full:\n"),
              std::string::npos);
    EXPECT_NE(logger.warnings.text().find("-4.125000000000000e+01 \n"), std::string::npos);
}

TEST(LogFailures, OfAnyOtherKindAreKeptTooAndTheRunGoesOn) {
    ScratchDirectory dir;
    const std::string log = dir / "LogDick.txt";
    // A log that can no longer be opened for writing, whoever runs the test.
    std::filesystem::create_directory(log);
    GuardedLog logger(log);
    logger.update(-41.25);
    EXPECT_EQ(logger.block->error(), nullptr);
    EXPECT_NE(logger.warnings.text().find(log + ": Is a directory; 1 line kept"), std::string::npos)
        << logger.warnings.text();

    std::filesystem::remove(log);
    logger.update(-38.5);
    EXPECT_EQ(logger.block->error(), nullptr);
    const std::string written = fileBytes(log);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2) << written;
}

}  // namespace
}  // namespace bm7
