#include "station/unlisted_clips.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/scratch_directory.h"

namespace bm7::station {
namespace {

void setModified(const std::string& path, std::time_t modified) {
    const struct timespec times[2] = {{modified, 0}, {modified, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void touch(const std::string& path, std::time_t modified) {
    std::ofstream(path) << "audio";
    setModified(path, modified);
}

TEST(UnlistedClips, ClipsSavedAfterTheLastRowWithoutOneGetARowOldestFirst) {
    testing::ScratchDirectory scratch;
    const std::string folder = scratch.path().string();
    const std::time_t lastRow = 1'800'000'000;
    {
        std::string problem;
        DetectionTable table;
        ASSERT_TRUE(table.open(scratch / "detections.csv", stderr, problem)) << problem;
        table.append({"", 2.0, 1.0, 0.9, -30.0, "Dick_000.00.02_00.wav"});
    }
    // Rows that waited for room touched the table after the clips they are for.
    setModified(scratch / "detections.csv", lastRow + 10);
    touch(scratch / "Dick_000.00.02_00.wav", lastRow);      // the last row's
    touch(scratch / "Dick_000.00.01_00.wav", lastRow - 1);  // older than the last row
    touch(scratch / "Dick_000.00.09_00.wav", lastRow + 3);  // stream stamp: no date-time
    touch(scratch / "Dick_2026-12-08_23.15.07_100.wav", lastRow + 2);
    touch(scratch / "Dick_2026-12-08_23.15.08_00.aif", lastRow + 2);  // another format
    touch(scratch / "Dick_2026-12-08_23.15_00.wav", lastRow + 2);     // not a stamp
    touch(scratch / "LogDick.wav", lastRow + 2);
    std::filesystem::create_directory(scratch / "Dick_000.00.08_00.wav");

    std::string problem;
    DetectionTable table;
    ASSERT_TRUE(table.open(scratch / "detections.csv", stderr, problem)) << problem;
    const std::vector<TableRow> rows =
        rowsForUnlistedClips({folder, "Dick", ".wav", true}, table.found());
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(formatTableRow(rows[0]),
              "2026-12-08T23:15:07.000Z,,,,,Dick_2026-12-08_23.15.07_100.wav\n");
    EXPECT_EQ(formatTableRow(rows[1]), ",,,,,Dick_000.00.09_00.wav\n");

    // A table that was not there has no last row to be newer than.
    DetectionTable fresh;
    ASSERT_TRUE(fresh.open(scratch / "other.csv", stderr, problem)) << problem;
    EXPECT_TRUE(rowsForUnlistedClips({folder, "Dick", ".wav", true}, fresh.found()).empty());
}

}  // namespace
}  // namespace bm7::station
