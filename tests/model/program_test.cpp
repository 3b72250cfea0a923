// The whole program on the bundled recording, as a user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "detector_harness.h"
#include "files/files_fixture.h"
#include "support/file_contents.h"
#include "support/small_tmpfs.h"

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

// The program started in the background with its output in a file, for tests that act
// on it while it runs.
class Background {
public:
    Background(const std::string& arguments, const std::string& output,
               const char* environment = nullptr)
        : output_(output) {
        const std::string command =
            "exec " + std::string(BM7_PROGRAM) + " " + arguments + " >" + output + " 2>&1";
        pid_ = ::fork();
        if (pid_ == 0) {
            if (environment != nullptr) ::putenv(const_cast<char*>(environment));
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Background() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    void kill(int signal) { ::kill(pid_, signal); }
    // The exit status, or -1 when it was killed or did not end within `seconds`.
    int wait(double seconds) {
        int status = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string output() const {
        std::ifstream in(output_);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::string output_;
    pid_t pid_ = 0;
};

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string demoRun(const std::string& clipDir, const std::string& stopFile,
                    const std::string& more = "") {
    return "--input " + std::string(BM7_SOURCE_DIR) + "/data/demo.wav --clip-dir " + clipDir +
           " --log-file " + clipDir + "/LogDick.txt --stop-file " + stopFile + " " + more;
}

struct Folder {
    std::vector<std::string> clips;      // final names of clips
    std::vector<std::string> temporary;  // unfinished clips
};

Folder listing(const std::string& folder) {
    Folder found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        // A clip's temporary name keeps ".wav" in it; the start-up write probe's does not.
        if (name.ends_with(".part") && name.find(".wav.") != std::string::npos)
            found.temporary.push_back(name);
        else if (name.ends_with(".wav"))
            found.clips.push_back(name);
    }
    std::sort(found.clips.begin(), found.clips.end());
    return found;
}

// A WAVE clip is whole when its header's sizes agree with the file's size.
bool isWholeWave(const std::string& path) {
    const std::string bytes = fileBytes(path);
    if (bytes.size() < 44) return false;
    const auto little32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
    };
    return little32(4) + 8 == bytes.size() && little32(40) + 44 == bytes.size();
}

TEST(StopFile, ALeftoverIsRemovedWithItsLineAndTheRunRecords) {
    const ScratchDirectory scratch;
    touch(scratch / "stop.txt");
    const Finished run = runProgram(demoRun(scratch / "Calls", scratch / "stop.txt"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("removed the stop file " + (scratch / "stop.txt")), std::string::npos)
        << run.out;
    EXPECT_FALSE(std::filesystem::exists(scratch / "stop.txt"));
    EXPECT_EQ(listing(scratch / "Calls").clips.size(), 5U) << run.out;
}

TEST(StopFile, AStopByTheStopFileRemovesItAndASecondStartRuns) {
    const ScratchDirectory scratch;
    const std::string stopFile = scratch / "stop.txt";
    Background paced(demoRun(scratch / "Calls", stopFile, "--realtime"), scratch / "out.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    touch(stopFile);
    EXPECT_EQ(paced.wait(15.0), 0) << paced.output();
    EXPECT_NE(paced.output().find("Stopped by the stop file " + stopFile + "\n"), std::string::npos)
        << paced.output();
    EXPECT_FALSE(std::filesystem::exists(stopFile));

    const Finished second = runProgram(demoRun(scratch / "Again", stopFile));
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_EQ(listing(scratch / "Again").clips.size(), 5U) << second.out;
}

TEST(StartChecks, AReadOnlyClipFolderEndsTheRunAtStartNamingIt) {
    SmallTmpfs disk("64k");
    const ScratchDirectory scratch;
    std::string folder = scratch / "Calls";
    if (disk.available()) {
        folder = disk / "Calls";
        std::filesystem::create_directory(folder);
        ASSERT_TRUE(disk.makeReadOnly());
    } else if (::geteuid() != 0) {
        std::filesystem::create_directory(folder);
        std::filesystem::permissions(
            folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    } else {
        GTEST_SKIP() << "root without a tmpfs: " << disk.why();
    }
    const Finished run =
        runProgram(demoRun(folder, scratch / "stop.txt", "--log-file " + (scratch / "log.txt")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Cannot write in clip directory \"" + folder + "\": "),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Saved clip"), std::string::npos) << run.out;
}

TEST(WholeOrAbsent, AWriterKilledInTheMiddleOfAClipLeavesNoPartialFileUnderItsName) {
    const ScratchDirectory scratch;
    const std::string folder = scratch / "Calls";
    {
        Background slow(demoRun(folder, scratch / "stop.txt"), scratch / "out.txt",
                        "BM7_TEST_CLIP_PAUSE_MS=60000");
        ASSERT_TRUE(waitUntil(
            [&] { return std::filesystem::exists(folder) && !listing(folder).temporary.empty(); },
            30.0))
            << slow.output();
        slow.kill(SIGKILL);
        EXPECT_EQ(slow.wait(10.0), -1);
    }
    const Folder killed = listing(folder);
    EXPECT_TRUE(killed.clips.empty());
    EXPECT_EQ(killed.temporary.size(), 1U);

    const Finished next = runProgram(demoRun(folder, scratch / "stop.txt"));
    EXPECT_EQ(next.status, 0) << next.out;
    EXPECT_NE(next.out.find("removed 1 unfinished file of an earlier run"), std::string::npos)
        << next.out;
    const Folder after = listing(folder);
    EXPECT_TRUE(after.temporary.empty());
    ASSERT_EQ(after.clips.size(), 5U) << next.out;
    for (const std::string& clip : after.clips) EXPECT_TRUE(isWholeWave(folder + "/" + clip));
}

TEST(WholeOrAbsent, AFullDiskRefusesClipsKeepsDetectingAndSaysSo) {
    // Room for the first two clips of the recording and the level log, not for a third.
    SmallTmpfs disk("160k");
    if (!disk.available()) GTEST_SKIP() << "no tmpfs: " << disk.why();
    const ScratchDirectory scratch;
    const Finished run = runProgram(demoRun(disk.path(), scratch / "stop.txt", "--min-free 0"));
    EXPECT_EQ(run.status, 0) << run.out;
    const Folder saved = listing(disk.path());
    EXPECT_TRUE(saved.temporary.empty());
    ASSERT_EQ(saved.clips.size(), 2U) << run.out;
    for (const std::string& clip : saved.clips) EXPECT_TRUE(isWholeWave(disk / clip)) << clip;
    EXPECT_NE(run.out.find("clips are not saved until space returns"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("3 clips were not saved for lack of space"), std::string::npos)
        << run.out;
    EXPECT_TRUE(std::filesystem::exists(disk / "LogDick.txt"));
}

TEST(WholeOrAbsent, AClipFolderBelowTheFreeSpaceLimitGetsNoClipsButTheRunEndsWell) {
    const ScratchDirectory scratch;
    const Finished run =
        runProgram(demoRun(scratch / "Calls", scratch / "stop.txt", "--min-free 100%"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(listing(scratch / "Calls").clips.empty());
    EXPECT_NE(run.out.find("5 clips were not saved for lack of space"), std::string::npos)
        << run.out;
}

TEST(Retention, DeletesOnlyTheProgramsOwnClipsOlderThanTheLimitAtStart) {
    const ScratchDirectory scratch;
    const std::string folder = scratch / "Calls";
    std::filesystem::create_directory(folder);
    const std::time_t old = std::time(nullptr) - 9 * 86400;
    for (const char* name : {"Dick_000.00.04_07.wav", "Dick_2024-03-05_07.08.09_00.wav",
                             "field notes.txt", "Dick_000.00.04_07.wav.txt"}) {
        touch(folder + "/" + name);
        const timeval times[2] = {{old, 0}, {old, 0}};
        ::utimes((folder + "/" + name).c_str(), times);
    }
    const Finished run = runProgram(demoRun(folder, scratch / "stop.txt", "--keep-days 7"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Removed 2 clips older than 7 days from " + folder), std::string::npos)
        << run.out;
    EXPECT_EQ(listing(folder).clips.size(), 5U);
    EXPECT_TRUE(std::filesystem::exists(folder + "/field notes.txt"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/Dick_000.00.04_07.wav.txt"));
}

}  // namespace
}  // namespace bm7::testing
