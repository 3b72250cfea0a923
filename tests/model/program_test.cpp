// The whole program on the bundled recording, as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "detector_harness.h"
#include "support/file_contents.h"

namespace bm7::testing {
namespace {

struct Finished {
    int status;
    std::string out;
};

// Standard output and, unless sent elsewhere, the error stream.
Finished runProgram(const std::string& arguments, const std::string& errorsTo = "&1") {
    const std::string command = std::string(BM7_PROGRAM) + " " + arguments + " 2>" + errorsTo;
    Finished result{-1, ""};
    std::FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.out.append(chunk, count);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Where in the recording the clip's samples stand, or -1.
long offsetOf(const std::vector<std::int16_t>& clip, const std::vector<std::int16_t>& recording,
              long from, long to) {
    for (long o = std::max(from, 0L); o <= to; ++o) {
        if (o + static_cast<long>(clip.size()) > static_cast<long>(recording.size())) break;
        std::size_t j = 0;
        while (j < clip.size() && clipValue(recording[o + j]) == clip[j]) ++j;
        if (j == clip.size()) return o;
    }
    return -1;
}

TEST(Program, AnalysesTheDemoRecordingIntoOneClipPerSongBout) {
    const ScratchDirectory scratch;
    const std::string recording = std::string(BM7_SOURCE_DIR) + "/data/demo.wav";
    const Finished run =
        runProgram("--input " + recording + " --clip-dir " + (scratch / "Calls") + " --log-file " +
                   (scratch / "Calls/LogDick.txt") + " --stop-file " + (scratch / "stop.txt"));
    ASSERT_EQ(run.status, 0) << run.out;

    const char* names[] = {"Dick_000.00.04_00.wav", "Dick_000.00.14_00.wav",
                           "Dick_000.00.22_00.wav", "Dick_000.00.32_00.wav",
                           "Dick_000.00.45_00.wav"};
    const double boutStarts[] = {3.0, 12.5, 21.0, 30.5, 44.0};
    std::vector<std::string> saved;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path() / "Calls")) {
        saved.push_back(entry.path().filename().string());
    }
    std::sort(saved.begin(), saved.end());
    ASSERT_EQ(saved.size(), 7U) << run.out;  // five clips, the level log, the detection table

    const std::vector<std::int16_t> samples = readWave(recording);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(saved[k], names[k]);
        EXPECT_NE(run.out.find(names[k]), std::string::npos) << names[k];
        const std::vector<std::int16_t> clip = readWave(scratch / ("Calls/" + saved[k]));
        ASSERT_GT(clip.size(), 22050U) << saved[k];
        // The clip holds the captured audio of its bout, from shortly before the song.
        const long start = std::lround(boutStarts[k] * kRate);
        const long offset = offsetOf(clip, samples, start - 15000, start + kRate);
        EXPECT_GE(offset, 0) << saved[k];
    }
    EXPECT_EQ(saved[5], "LogDick.txt");
    EXPECT_EQ(saved[6], "detections.csv");
}

TEST(Program, ABadFinalTimeOrPortPrintsTheUsageAndNamesTheArgumentOnTheErrorStream) {
    const ScratchDirectory scratch;
    const std::string errors = scratch / "errors";
    for (const auto& [arguments, line] : {std::pair{"abc", "brakmoor7: bad final time \"abc\""},
                                          std::pair{"10 100", "brakmoor7: bad port \"100\""}}) {
        const Finished run = runProgram(arguments, errors);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out.rfind("usage: brakmoor7 [finaltime] [TCPport]\n", 0), 0U) << run.out;
        const std::string complaint = fileContents(errors);
        EXPECT_EQ(complaint.rfind(line, 0), 0U) << complaint;
        EXPECT_EQ(std::count(complaint.begin(), complaint.end(), '\n'), 1) << complaint;
    }
}

TEST(Program, AClosedStandardOutputCostsOnlyTheAnnouncements) {
    const ScratchDirectory scratch;
    const std::string recording = std::string(BM7_SOURCE_DIR) + "/data/demo.wav";
    // The reader is gone before the first announcement is written.
    const std::string command = "(" + std::string(BM7_PROGRAM) + " --input " + recording +
                                " --clip-dir " + (scratch / "Calls") + " --stop-file " +
                                (scratch / "stop") + "; echo $? >" + (scratch / "status") +
                                ") | true";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(fileContents(scratch / "status"), "0\n");
    int clips = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path() / "Calls")) {
        clips += entry.path().extension() == ".wav";
    }
    EXPECT_EQ(clips, 5);
}

TEST(Program, RefusesAnUnreadableRecordingAndAnUnknownFormatAtStart) {
    const ScratchDirectory scratch;
    const Finished missing =
        runProgram("--input " + (scratch / "none.wav") + " --clip-dir " + (scratch / "Calls"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("none.wav"), std::string::npos) << missing.out;
    const Finished format = runProgram("--clip-format ogg");
    EXPECT_EQ(format.status, 1);
    EXPECT_NE(format.out.find("ogg"), std::string::npos) << format.out;
}

TEST(Program, EndsAtStartWhenTheClipDirectoryCannotBeMade) {
    const ScratchDirectory scratch;
    std::FILE* blocker = std::fopen((scratch / "file").c_str(), "w");
    std::fclose(blocker);
    const std::string recording = std::string(BM7_SOURCE_DIR) + "/data/demo.wav";
    const Finished run =
        runProgram("--input " + recording + " --clip-dir " + (scratch / "file/Calls"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(scratch / "file/Calls"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace bm7::testing
