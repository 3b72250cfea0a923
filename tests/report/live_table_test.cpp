// Reading a live run's detection table: RFC 4180 quoting, its exact header, and rows a
// power cut damaged skipped with a warning instead of losing the table.
#include "report/live_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "support/scratch_directory.h"

namespace bm7::report {
namespace {

using bm7::testing::ScratchDirectory;

TEST(Csv, QuotedFieldsHoldCommasQuotesAndLineBreaks) {
    std::vector<int> lines;
    const auto records = parseCsv("a,\"b,c\",\"say \"\"hi\"\"\"\r\n\"two\nlines\",,x\n3", lines);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], (std::vector<std::string>{"a", "b,c", "say \"hi\""}));
    EXPECT_EQ(records[1], (std::vector<std::string>{"two\nlines", "", "x"}));
    EXPECT_EQ(records[2], (std::vector<std::string>{"3"}));
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 4}));
}

class LiveTable : public ::testing::Test {
protected:
    bool read(const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        return readLiveTable(path, rows, warnings, problem);
    }
    ScratchDirectory scratch;
    std::string path = scratch / "detections.csv";
    std::vector<LiveDetection> rows;
    std::vector<std::string> warnings;
    std::string problem;
};

TEST_F(LiveTable, RowsAreReadWithTheirClipsAndScores) {
    ASSERT_TRUE(read(
        std::string(kLiveTableHeader) +
        "\r\n2026-05-12T04:31:07.250-05:00,12.5,0.75,3.2500,-21.50,\"Dick_000.00.12_00.wav\"\r\n"
        ",40,1,nan,-30.00,\r\n"
        ",,,,,Dick_000.00.59_00.wav\n"))
        << problem;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].beginDateTime, "2026-05-12T04:31:07.250-05:00");
    EXPECT_EQ(rows[0].startS, 12.5);
    EXPECT_EQ(rows[0].durationS, 0.75);
    EXPECT_EQ(rows[0].songRatio, 3.25);
    EXPECT_EQ(rows[0].peakLevelDb, -21.5);
    EXPECT_EQ(rows[0].clip, "Dick_000.00.12_00.wav");
    EXPECT_TRUE(rows[1].clip.empty()) << "a refused clip";
    EXPECT_TRUE(std::isnan(rows[1].songRatio));
    EXPECT_TRUE(std::isnan(rows[2].startS) && std::isnan(rows[2].peakLevelDb))
        << "a clip's row without scores";
    EXPECT_TRUE(warnings.empty());
}

TEST_F(LiveTable, ALineCutShortAndBadNumbersAreSkippedWithTheirLineNumbers) {
    ASSERT_TRUE(read(std::string(kLiveTableHeader) +
                     "\n,1,1,2,-3,a.wav\n\n,x,1,2,-3,b.wav\n,5,1,2,-3,c.wav\n,7,1,2"))
        << problem;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].clip, "c.wav");
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("line 4 skipped: start_s \"x\" is not a number"), std::string::npos)
        << warnings[0];
    EXPECT_NE(warnings[1].find("line 6 skipped: 4 fields"), std::string::npos) << warnings[1];
}

TEST_F(LiveTable, AnotherHeaderIsRefused) {
    EXPECT_FALSE(read("file,start_s,end_s,begin_date_time,song_ratio,peak_level_db,clip\n"));
    EXPECT_NE(problem.find("is not the detection table's header"), std::string::npos) << problem;
    EXPECT_FALSE(read(""));
}

TEST_F(LiveTable, AMissingTableIsReportedByName) {
    EXPECT_FALSE(readLiveTable(scratch / "none.csv", rows, warnings, problem));
    EXPECT_NE(problem.find("none.csv"), std::string::npos);
}

}  // namespace
}  // namespace bm7::report
