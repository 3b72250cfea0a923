#include "scan/tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_directory.h"

namespace bm7::scan {
namespace {

const std::string kSelectionHeader =
    "Selection\tView\tChannel\tBegin Time (s)\tEnd Time (s)\tLow Freq (Hz)\tHigh Freq (Hz)\t"
    "Begin File\tBegin Path\tFile Offset (s)\tBegin Date Time\tSong Ratio\tPeak Level (dB)\tClip\n";
const std::string kDetectionsHeader =
    "file,start_s,end_s,begin_date_time,song_ratio,peak_level_db,clip\n";
const std::string kFilesHeader =
    "file,status,duration_s,sample_rate,channels,detections,start_time,time_source,message\n";

FileResult recording(const std::string& file, double duration) {
    FileResult result;
    result.file = file;
    result.beginPath = "archive/" + file;
    result.durationSeconds = duration;
    result.sampleRate = 48000;
    result.channels = 2;
    return result;
}

DetectionResult detection(double start, double end, double ratio = 0.5, double level = -20.0) {
    DetectionResult result;
    result.fileOffsetSeconds = start;
    result.endOffsetSeconds = end;
    result.songRatio = ratio;
    result.peakLevelDb = level;
    return result;
}

// A scan of three files: two detections, a file that could not be read, one detection.
std::vector<FileResult> threeFileScan() {
    FileResult first = recording("site1/SMM03873_20260512_043000.wav", 60.0);
    first.startTime = "2026-05-12T04:30:00.000Z";
    first.timeSource = "name";
    first.detections = {detection(1.25, 2.5, 0.87654, -12.345), detection(30.0, 31.000001)};
    first.detections[0].beginDateTime = "2026-05-12T04:30:01.250Z";
    first.detections[0].clip =
        "clips/site1/SMM03873_20260512_043000/bird_2026-05-12_04.30.01_00.wav";
    FileResult broken = recording("site1/broken.wav", 0.0);
    broken.status = FileStatus::error;
    broken.sampleRate = 0;
    broken.channels = 0;
    broken.message = "not an audio file";
    FileResult last = recording("site2/a.flac", 10.5);
    last.detections = {detection(0.0, 10.5, std::nan(""), -3.0)};
    return {first, broken, last};
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(EmptyScans, WriteEachTableAsItsExactHeaderLineAlone) {
    EXPECT_EQ(selectionTableText({}), kSelectionHeader);
    EXPECT_EQ(detectionsCsvText({}), kDetectionsHeader);
    EXPECT_EQ(filesCsvText({}), kFilesHeader);
    EXPECT_EQ(selectionTableText({recording("quiet.wav", 5.0)}), kSelectionHeader);
}

TEST(SelectionTable, NumbersRowsOverTheWholeScanAndPlacesFilesEndToEnd) {
    EXPECT_EQ(selectionTableText(threeFileScan()),
              kSelectionHeader +
                  "1\tSpectrogram 1\t1\t1.250000\t2.500000\t4006.5\t5489.6\t"
                  "SMM03873_20260512_043000.wav\tarchive/site1/SMM03873_20260512_043000.wav\t"
                  "1.250000\t2026-05-12T04:30:01.250Z\t0.8765\t-12.35\t"
                  "clips/site1/SMM03873_20260512_043000/bird_2026-05-12_04.30.01_00.wav\n"
                  "2\tSpectrogram 1\t1\t30.000000\t31.000001\t4006.5\t5489.6\t"
                  "SMM03873_20260512_043000.wav\tarchive/site1/SMM03873_20260512_043000.wav\t"
                  "30.000000\t\t0.5000\t-20.00\t\n"
                  "3\tSpectrogram 1\t1\t60.000000\t70.500000\t4006.5\t5489.6\t"
                  "a.flac\tarchive/site2/a.flac\t0.000000\t\t\t-3.00\t\n");
}

// Sound viewers open the Begin Path, so only it keeps a byte that is not UTF-8.
TEST(SelectionTable, KeepsEveryRowWholeWhateverTheFileNamesHold) {
    FileResult awkward = recording("a\tb/new\nline, \"q\" \xc3\xa9 \xff.wav", 1.0);
    awkward.beginPath = "in\tput/" + awkward.file;
    awkward.detections = {detection(0.1, 0.2)};
    const auto lines = linesOf(selectionTableText({awkward}));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(std::count(lines[1].begin(), lines[1].end(), '\t'), 13);
    EXPECT_NE(lines[1].find("\tnew line, \"q\" \xc3\xa9 \\xFF.wav\tin put/a b/new line, \"q\" "
                            "\xc3\xa9 \xff.wav\t"),
              std::string::npos)
        << lines[1];
}

TEST(DetectionsCsv, GivesEachDetectionWithinItsOwnFileUnderItsRelativePath) {
    EXPECT_EQ(
        detectionsCsvText(threeFileScan()),
        kDetectionsHeader +
            "site1/SMM03873_20260512_043000.wav,1.250000,2.500000,2026-05-12T04:30:01.250Z,"
            "0.8765,-12.35,clips/site1/SMM03873_20260512_043000/bird_2026-05-12_04.30.01_00.wav\n"
            "site1/SMM03873_20260512_043000.wav,30.000000,31.000001,,0.5000,-20.00,\n"
            "site2/a.flac,0.000000,10.500000,,,-3.00,\n");
}

TEST(FilesCsv, ListsEveryFileWithItsStatusAndLeavesAnUnknownFormatEmpty) {
    std::vector<FileResult> scan = threeFileScan();
    scan.push_back(recording("low.wav", 2.0));
    scan.back().status = FileStatus::skipped;
    scan.back().sampleRate = 8000;
    scan.back().channels = 1;
    scan.back().message = "sample rate 8000 Hz is below 11025 Hz, too low to hold the song band";
    EXPECT_EQ(filesCsvText(scan),
              kFilesHeader +
                  "site1/SMM03873_20260512_043000.wav,ok,60.000000,48000,2,2,"
                  "2026-05-12T04:30:00.000Z,name,\n"
                  "site1/broken.wav,error,,,,0,,,not an audio file\n"
                  "site2/a.flac,ok,10.500000,48000,2,1,,,\n"
                  "low.wav,skipped,2.000000,8000,1,0,,,"
                  "\"sample rate 8000 Hz is below 11025 Hz, too low to hold the song band\"\n");
}

TEST(CsvTables, QuoteAwkwardNamesAndMessagesSoTheyReadBackAsOneField) {
    FileResult awkward = recording("a,b/\"quoted\"\nname \xc3\xa9 \xff.wav", 1.0);
    awkward.message = "line one\r\nline two";
    awkward.detections = {detection(0.1, 0.2)};
    awkward.detections[0].clip = "clips/a,b/x.wav";
    const std::string quotedName = "\"a,b/\"\"quoted\"\"\nname \xc3\xa9 \\xFF.wav\"";
    EXPECT_EQ(
        detectionsCsvText({awkward}),
        kDetectionsHeader + quotedName + ",0.100000,0.200000,,0.5000,-20.00,\"clips/a,b/x.wav\"\n");
    EXPECT_EQ(filesCsvText({awkward}),
              kFilesHeader + quotedName + ",ok,1.000000,48000,2,1,,,\"line one\r\nline two\"\n");
}

TEST(WrittenTables, HoldExactlyTheTextsAndTheSameBytesOnEveryWrite) {
    testing::ScratchDirectory scratch;
    const auto scan = threeFileScan();
    std::string problem;
    ASSERT_TRUE(writeTables(scratch.path().string(), scan, problem)) << problem;
    const std::string first = contentsOf(scratch / "detections.selections.txt");
    EXPECT_EQ(first, selectionTableText(scan));
    EXPECT_EQ(contentsOf(scratch / "detections.csv"), detectionsCsvText(scan));
    EXPECT_EQ(contentsOf(scratch / "files.csv"), filesCsvText(scan));
    ASSERT_TRUE(writeTables(scratch.path().string(), scan, problem)) << problem;
    EXPECT_EQ(contentsOf(scratch / "detections.selections.txt"), first);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()),
                            std::filesystem::directory_iterator()),
              3);
}

TEST(WrittenTables, AMissingOutputFolderIsAProblemNamingTheFile) {
    testing::ScratchDirectory scratch;
    std::string problem;
    EXPECT_FALSE(writeTables(scratch / "absent", threeFileScan(), problem));
    EXPECT_NE(problem.find("detections.selections.txt"), std::string::npos) << problem;
}

}  // namespace
}  // namespace bm7::scan
