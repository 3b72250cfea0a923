#include "station/detection_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "support/file_contents.h"
#include "support/scratch_directory.h"

namespace bm7::station {
namespace {

TableRow exampleRow(const std::string& clip) {
    TableRow row;
    row.beginDateTime = "2026-12-08T23:15:07.250Z";
    row.startSeconds = 3.4;
    row.durationSeconds = 1.25;
    row.songRatio = 0.81234;
    row.peakLevelDb = -31.456;
    row.clip = clip;
    return row;
}

const std::string kHeader = std::string(kDetectionTableHeader) + "\n";
const std::string kRow =
    "2026-12-08T23:15:07.250Z,3.400000,1.250000,0.8123,-31.46,Dick_2026-12-08_23.15.07_00.wav\n";

TEST(DetectionTable, ANewTableGetsItsHeaderOnceAndRowsAsTheyCome) {
    testing::ScratchDirectory scratch;
    std::string problem;
    {
        DetectionTable table;
        ASSERT_TRUE(table.open(scratch / "detections.csv", problem)) << problem;
        ASSERT_TRUE(table.append(exampleRow("Dick_2026-12-08_23.15.07_00.wav"), problem));
    }
    DetectionTable reopened;
    ASSERT_TRUE(reopened.open(scratch / "detections.csv", problem)) << problem;
    ASSERT_TRUE(reopened.append(exampleRow(""), problem));
    EXPECT_EQ(testing::fileContents(scratch / "detections.csv"),
              kHeader + kRow + "2026-12-08T23:15:07.250Z,3.400000,1.250000,0.8123,-31.46,\n");
}

TEST(DetectionTable, APartialLastLineFromAPowerCutIsDropped) {
    testing::ScratchDirectory scratch;
    std::ofstream(scratch / "detections.csv") << kHeader << kRow << "2026-12-08T23:16:0";
    std::string problem;
    DetectionTable table;
    ASSERT_TRUE(table.open(scratch / "detections.csv", problem)) << problem;
    ASSERT_TRUE(table.append(exampleRow("Dick_2026-12-08_23.15.07_00.wav"), problem));
    EXPECT_EQ(testing::fileContents(scratch / "detections.csv"), kHeader + kRow + kRow);
}

TEST(DetectionTable, AnEmptyFileOrOneCutInsideItsHeaderStartsOver) {
    testing::ScratchDirectory scratch;
    std::ofstream(scratch / "empty.csv");
    std::ofstream(scratch / "cut.csv") << "begin_date_ti";
    for (const char* name : {"empty.csv", "cut.csv"}) {
        std::string problem;
        DetectionTable table;
        ASSERT_TRUE(table.open(scratch / name, problem)) << problem;
        EXPECT_EQ(testing::fileContents(scratch / name), kHeader) << name;
    }
}

TEST(DetectionTable, OddClipNamesAndMissingScoresStayOneRow) {
    TableRow row = exampleRow("a,b \"c\".wav");
    row.songRatio = std::nan("");
    EXPECT_EQ(formatTableRow(row),
              "2026-12-08T23:15:07.250Z,3.400000,1.250000,,-31.46,\"a,b \"\"c\"\".wav\"\n");
}

TEST(DetectionTable, AFolderThatIsNotThereIsNamed) {
    testing::ScratchDirectory scratch;
    std::string problem;
    DetectionTable table;
    EXPECT_FALSE(table.open(scratch / "missing/detections.csv", problem));
    EXPECT_NE(problem.find("missing/detections.csv: No such file"), std::string::npos)
        << problem;
}

}  // namespace
}  // namespace bm7::station
