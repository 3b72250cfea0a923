#include "station/status_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/file_contents.h"
#include "support/scratch_directory.h"

namespace bm7::station {
namespace {

// Reads the text exposition format strictly enough to catch what would make a scraper
// drop the file: every sample needs its HELP and TYPE first, a valid name and a value
// the format can parse.
std::map<std::string, std::string> parseExposition(const std::string& text) {
    const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) \S.*)");
    const std::regex type(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge))");
    const std::regex sample(
        R"(([a-zA-Z_:][a-zA-Z0-9_:]*) ([-+]?(\d+(\.\d*)?([eE][-+]?\d+)?|Inf|NaN)))");
    std::map<std::string, std::string> values;
    std::set<std::string> helped, typed;
    std::istringstream lines(text);
    std::string line;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, help)) {
            helped.insert(match[1]);
        } else if (std::regex_match(line, match, type)) {
            typed.insert(match[1]);
        } else if (std::regex_match(line, match, sample)) {
            EXPECT_TRUE(helped.count(match[1]) && typed.count(match[1])) << line;
            EXPECT_FALSE(values.count(match[1])) << "twice: " << line;
            values[match[1]] = match[2];
        } else {
            ADD_FAILURE() << "not exposition text: " << line;
        }
    }
    EXPECT_TRUE(text.empty() || text.back() == '\n');
    return values;
}

TEST(StatusFile, EveryMetricParsesWithItsHelpAndType) {
    StationStatus status;
    status.audioSeconds = 60.5;
    status.frames = 163;
    status.detections = 4;
    status.clipsSaved = 3;
    status.clipsRefused = 1;
    status.lastAudioTimestamp = 1796760000.25;
    status.bandLevelDb = -std::numeric_limits<double>::infinity();
    status.diskFreeBytes = 12345678901.0;
    const auto values = parseExposition(formatStatus(status));
    EXPECT_EQ(values.size(), 11u);
    EXPECT_EQ(values.at("brakmoor7_up"), "1");
    EXPECT_EQ(values.at("brakmoor7_frames_total"), "163");
    EXPECT_EQ(values.at("brakmoor7_clips_refused_total"), "1");
    EXPECT_EQ(values.at("brakmoor7_band_level_db"), "-Inf");
    EXPECT_DOUBLE_EQ(std::stod(values.at("brakmoor7_last_audio_timestamp_seconds")), 1796760000.25);
    EXPECT_DOUBLE_EQ(std::stod(values.at("brakmoor7_disk_free_bytes")), 12345678901.0);
}

TEST(StatusFile, TheFileIsReplacedWhole) {
    testing::ScratchDirectory scratch;
    std::string problem;
    StationStatus status;
    ASSERT_TRUE(writeStatusFile(scratch / "brakmoor7.prom", status, problem)) << problem;
    status.up = false;
    ASSERT_TRUE(writeStatusFile(scratch / "brakmoor7.prom", status, problem)) << problem;
    EXPECT_EQ(parseExposition(testing::fileContents(scratch / "brakmoor7.prom")).at("brakmoor7_up"),
              "0");
}

}  // namespace
}  // namespace bm7::station
