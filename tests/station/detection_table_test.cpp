#include "station/detection_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/captured_stream.h"
#include "support/file_contents.h"
#include "support/scratch_directory.h"
#include "support/small_tmpfs.h"

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
        ASSERT_TRUE(table.open(scratch / "detections.csv", stderr, problem)) << problem;
        table.append(exampleRow("Dick_2026-12-08_23.15.07_00.wav"));
    }
    DetectionTable reopened;
    ASSERT_TRUE(reopened.open(scratch / "detections.csv", stderr, problem)) << problem;
    reopened.append(exampleRow(""));
    EXPECT_EQ(testing::fileContents(scratch / "detections.csv"),
              kHeader + kRow + "2026-12-08T23:15:07.250Z,3.400000,1.250000,0.8123,-31.46,\n");
}

TEST(DetectionTable, APartialLastLineFromAPowerCutIsDropped) {
    testing::ScratchDirectory scratch;
    std::ofstream(scratch / "detections.csv") << kHeader << kRow << "2026-12-08T23:16:0";
    std::string problem;
    DetectionTable table;
    ASSERT_TRUE(table.open(scratch / "detections.csv", stderr, problem)) << problem;
    table.append(exampleRow("Dick_2026-12-08_23.15.07_00.wav"));
    EXPECT_EQ(testing::fileContents(scratch / "detections.csv"), kHeader + kRow + kRow);
    EXPECT_FALSE(std::filesystem::exists(scratch / "detections.csv.damaged"));
}

TEST(DetectionTable, AnEmptyFileOrOneCutInsideItsHeaderStartsOver) {
    testing::ScratchDirectory scratch;
    std::ofstream(scratch / "empty.csv");
    std::ofstream(scratch / "cut.csv") << "begin_date_ti";
    for (const char* name : {"empty.csv", "cut.csv"}) {
        std::string problem;
        DetectionTable table;
        ASSERT_TRUE(table.open(scratch / name, stderr, problem)) << problem;
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
    EXPECT_FALSE(table.open(scratch / "missing/detections.csv", stderr, problem));
    EXPECT_NE(problem.find("missing/detections.csv: No such file"), std::string::npos) << problem;
}

TEST(DetectionTable, MalformedRowsInTheMiddleGoAsideAndTheWellFormedOnesStay) {
    testing::ScratchDirectory scratch;
    const std::string kept[] = {
        kRow,
        ",,,,,Dick_000.00.09_00.wav\n",  // a row given to a clip found without one
        "2026-12-08T23:15:07.250+01:00,3.400000,1.250000,,-31.46,\"a,b\n\"\"c\"\".wav\"\n",
        "2026-12-08T23:15:07.250Z,3.400000,1.250000,0.8123,-31.46,\n",
    };
    const std::string damaged[] = {
        "2026-12-08T23:15:07.250Z,3.400000,1.250000,0.8123,-31.46,Dick_00.wa" + kRow,
        "2026-12-08T23:15:07.250Z,3.400000,1.250000,0.8123,Dick_00.wav\n",
        "2026-12-08T23:15:07.250Z,3.4x,1.250000,0.8123,-31.46,Dick_00.wav\n",
        "2026-12-08 23:15:07,3.400000,1.250000,0.8123,-31.46,Dick_00.wav\n",
        "2026-12-08T23:15:07.250Z,3.400000,1.250000,0.8123,-31.46,Dick\"_00.wav\n",
        "2026-12-08T23:15:07.250Z,3.400000,1.250000,0.8123,-31.46,\"Dick_00.wav\n",
        "2026-12-08T23:15:07.250Z,3.400000,1.250000,0.8123,-31.46,Calls/Dick_00.wav\n",
    };
    std::ofstream(scratch / "detections.csv.damaged") << "an earlier line\n";
    {
        std::ofstream table(scratch / "detections.csv");
        table << kHeader << kept[0] << damaged[0] << kept[1] << damaged[1] << damaged[2] << kept[2]
              << damaged[3] << damaged[4] << damaged[5] << damaged[6] << kept[3]
              << "2026-12-08T23:1";
    }
    testing::CapturedStream warnings;
    std::string problem;
    DetectionTable table;
    ASSERT_TRUE(table.open(scratch / "detections.csv", warnings.get(), problem)) << problem;
    table.append(exampleRow(""));
    EXPECT_EQ(testing::fileContents(scratch / "detections.csv"),
              kHeader + kept[0] + kept[1] + kept[2] + kept[3] + kept[3]);
    std::string aside = "an earlier line\n";
    for (const std::string& line : damaged) aside += line;
    EXPECT_EQ(testing::fileContents(scratch / "detections.csv.damaged"), aside);
    EXPECT_EQ(warnings.text(), "brakmoor7: moved 7 malformed rows of the detection table " +
                                   (scratch / "detections.csv") + " to " +
                                   (scratch / "detections.csv.damaged") + "\n");
    EXPECT_EQ(table.found().clips,
              (std::set<std::string>{"Dick_2026-12-08_23.15.07_00.wav", "Dick_000.00.09_00.wav",
                                     "a,b\n\"c\".wav", ""}));
}

// Lines of `text` that are not rows of the table, with the start_s of those that are.
std::vector<std::string> malformedLines(const std::string& text, std::vector<double>& starts) {
    std::vector<std::string> malformed;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    std::string clip;
    while (std::getline(lines, line)) {
        if (!isWellFormedRow(line, clip))
            malformed.push_back(line);
        else
            starts.push_back(std::stod(line.substr(line.find(',') + 1)));
    }
    return malformed;
}

TEST(DetectionTable, OnADiskThatFillsAndFreesNoRowIsCutOrLost) {
    testing::SmallTmpfs disk("16k");
    if (!disk.available()) GTEST_SKIP() << "no tmpfs: " << disk.why();
    testing::CapturedStream warnings;
    std::string problem;
    DetectionTable table;
    ASSERT_TRUE(table.open(disk / "detections.csv", warnings.get(), problem)) << problem;
    {
        std::ofstream filler(disk / "filler", std::ios::binary);
        const std::string block(1024, 'x');
        while (filler.write(block.data(), block.size())) {
        }
    }
    constexpr int kRows = 80;  // past the table's first page, so that a write falls short
    for (int i = 0; i < kRows; ++i) {
        TableRow row = exampleRow("Dick_000.00.0" + std::to_string(i % 10) + "_00.wav");
        row.startSeconds = i;
        table.append(row);
    }
    const std::size_t waiting = table.rowsWaiting();
    EXPECT_GT(waiting, 0U);
    table.reportWaiting();
    std::vector<double> starts;
    EXPECT_EQ(malformedLines(testing::fileContents(disk / "detections.csv"), starts),
              std::vector<std::string>{});
    EXPECT_EQ(starts.size() + waiting, static_cast<std::size_t>(kRows));

    std::filesystem::remove(disk / "filler");
    TableRow last = exampleRow("");
    last.startSeconds = kRows;
    table.append(last);
    EXPECT_EQ(table.rowsWaiting(), 0U);
    starts.clear();
    EXPECT_EQ(malformedLines(testing::fileContents(disk / "detections.csv"), starts),
              std::vector<std::string>{});
    ASSERT_EQ(starts.size(), static_cast<std::size_t>(kRows + 1));
    for (int i = 0; i <= kRows; ++i) EXPECT_EQ(starts[static_cast<std::size_t>(i)], i);
    const std::string table_path = disk / "detections.csv";
    const std::string count = std::to_string(waiting) + " row" + (waiting == 1 ? "" : "s");
    EXPECT_EQ(warnings.text(),
              "brakmoor7: warning: cannot append to the detection table " + table_path +
                  ": No space left on device; its rows wait in memory until it can be written, "
                  "counted once an hour\n"
                  "brakmoor7: warning: " +
                  count + " waiting for the detection table " + table_path +
                  " (No space left on device)\n"
                  "brakmoor7: the detection table " +
                  table_path + " has its " + count.substr(0, count.find(" ")) + " waiting row" +
                  (waiting == 1 ? "" : "s") + " now\n");
}

}  // namespace
}  // namespace bm7::station
