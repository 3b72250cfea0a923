#include "scan/journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "files/atomic_file.h"
#include "scan/tables.h"
#include "support/scratch_directory.h"

namespace bm7::scan {
namespace {

namespace fs = std::filesystem;

RecordingKey keyFor(const std::string& path) {
    return {path, 123456789, 1778560200123456789, "channel=1;time-zone=America/New_York;clips=wav"};
}

// Every kind of value a scan can produce, in the strings and numbers that round trip worst.
FileResult awkwardResult(const std::string& file) {
    FileResult result;
    result.file = file;
    result.beginPath = "recorders/" + file;
    result.durationSeconds = 86399.99997916667;
    result.sampleRate = 48000;
    result.channels = 2;
    result.startTime = "2026-03-08T01:59:59.999-05:00";
    result.timeSource = "guano";
    result.message = "ends at 1.5 s, \"header\" says 3.0 s\tback\\slash\r\nsecond line";
    for (int i = 0; i < 1000; ++i) {
        DetectionResult detection;
        detection.fileOffsetSeconds = i * 0.1;
        detection.endOffsetSeconds = i * 0.1 + 1.0 / 3.0;
        detection.songRatio = i % 3 == 0 ? std::nan("") : 1.0 / (i + 7);
        detection.peakLevelDb =
            i % 5 == 0 ? -std::numeric_limits<double>::infinity() : -0.0 - i * 1e-3;
        detection.beginDateTime = i % 2 == 0 ? "" : "2026-03-08T03:00:00.250-04:00";
        detection.clip =
            i % 4 == 0 ? "" : "clips/a,b \"c\"/x\xc3\xa9_" + std::to_string(i) + ".wav";
        result.detections.push_back(detection);
    }
    result.detections[1].fileOffsetSeconds = 5e-324;
    return result;
}

std::string allTables(const std::vector<FileResult>& results) {
    return selectionTableText(results) + detectionsCsvText(results) + filesCsvText(results);
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string problem;
        ASSERT_TRUE(journal.open(scratch / "out", problem)) << problem;
    }

    std::string entryOf(const std::string& recordingPath) const {
        return journal.folder() + "/" + journalEntryName(recordingPath);
    }

    testing::ScratchDirectory scratch;
    Journal journal;
};

TEST_F(JournalTest, AResultReadBackWritesTheSameTableBytesAsTheFreshOne) {
    const FileResult fresh = awkwardResult("site 1/SMM03873_20260308_015959.wav");
    const RecordingKey key = keyFor(fresh.beginPath);
    std::string problem;
    ASSERT_TRUE(journal.record(key, fresh, problem)) << problem;
    const std::optional<FileResult> stored = journal.find(key);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(allTables({*stored, *stored}), allTables({fresh, fresh}));
    EXPECT_EQ(stored->detections[1].fileOffsetSeconds, 5e-324);
    EXPECT_TRUE(std::signbit(stored->detections[1].peakLevelDb));
}

TEST_F(JournalTest, EveryStatusAndEmptyStringsRoundTrip) {
    for (FileStatus status : {FileStatus::ok, FileStatus::error, FileStatus::skipped}) {
        FileResult bare;
        bare.status = status;
        std::string problem;
        ASSERT_TRUE(journal.record(keyFor(""), bare, problem)) << problem;
        const auto stored = journal.find(keyFor(""));
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->status, status);
        EXPECT_EQ(allTables({*stored}), allTables({bare}));
    }
}

TEST_F(JournalTest, AChangedRecordingOrOtherOptionsMissAndTheFileIsAnalysedAgain) {
    const RecordingKey key = keyFor("a/b.wav");
    std::string problem;
    ASSERT_TRUE(journal.record(key, awkwardResult("b.wav"), problem)) << problem;
    RecordingKey resized = key, touched = key, otherOptions = key, otherPath = key;
    resized.size += 1;
    touched.modifiedNanoseconds += 1;
    otherOptions.options = "channel=2;time-zone=America/New_York;clips=wav";
    otherPath.path = "a/c.wav";
    for (const auto& changed : {resized, touched, otherOptions, otherPath}) {
        EXPECT_FALSE(journal.find(changed).has_value()) << changed.path << " " << changed.options;
    }
    EXPECT_TRUE(journal.find(key).has_value());
    EXPECT_FALSE(journal.find(keyFor("never/recorded.wav")).has_value());
}

TEST_F(JournalTest, AnEntryOfAnotherRecordingUnderACollidingNameIsNotTaken) {
    std::string problem;
    ASSERT_TRUE(journal.record(keyFor("first.wav"), awkwardResult("first.wav"), problem));
    fs::rename(entryOf("first.wav"), entryOf("second.wav"));
    EXPECT_FALSE(journal.find(keyFor("second.wav")).has_value());
}

TEST_F(JournalTest, ADamagedOrTruncatedEntryOnDiskMissesInsteadOfFailing) {
    const RecordingKey key = keyFor("x.wav");
    const std::string text = journalEntryText(key, awkwardResult("x.wav"));
    for (const std::string& damaged : {text.substr(0, text.size() / 2), std::string(),
                                       std::string(4096, '\0'), text + "detection\n"}) {
        writeText(entryOf("x.wav"), damaged);
        EXPECT_FALSE(journal.find(key).has_value());
    }
    fs::remove(entryOf("x.wav"));
    fs::create_directory(entryOf("x.wav"));
    EXPECT_FALSE(journal.find(key).has_value());
}

TEST(JournalEntry, EveryTruncationAndEverySingleByteChangeIsRefused) {
    FileResult small = awkwardResult("s.wav");
    small.detections.resize(3);
    const RecordingKey key = keyFor("s.wav");
    const std::string text = journalEntryText(key, small);
    ASSERT_TRUE(readJournalEntry(text, key).has_value());
    for (std::size_t length = 0; length < text.size(); ++length) {
        EXPECT_FALSE(readJournalEntry(text.substr(0, length), key).has_value()) << length;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::string changed = text;
        changed[at] = static_cast<char>(changed[at] ^ 0x04);
        EXPECT_FALSE(readJournalEntry(changed, key).has_value()) << at;
    }
}

// The entry with its first line replaced and its checksum made right again.
std::string withFirstLine(const std::string& entry, const std::string& firstLine) {
    std::string text = firstLine + entry.substr(entry.find('\n'));
    const std::size_t checksumStart = text.rfind("checksum\t");
    text.replace(checksumStart, std::string::npos,
                 "checksum\t" + fnv1a64Hex(text.substr(0, checksumStart)) + "\n");
    return text;
}

TEST(JournalEntry, AnEntryOfAnotherVersionIsRefusedEvenWithAValidChecksum) {
    const RecordingKey key = keyFor("v.wav");
    const std::string text = journalEntryText(key, awkwardResult("v.wav"));
    EXPECT_TRUE(readJournalEntry(withFirstLine(text, "brakmoor7 scan journal 1"), key).has_value());
    EXPECT_FALSE(
        readJournalEntry(withFirstLine(text, "brakmoor7 scan journal 2"), key).has_value());
}

TEST(JournalKeys, ComeFromTheFileOnDiskAndChangeWhenItIsTouched) {
    testing::ScratchDirectory scratch;
    writeText(scratch / "r.wav", "0123456789");
    const timespec times[2] = {{0, UTIME_OMIT}, {1778560200, 250}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (scratch / "r.wav").c_str(), times, 0), 0);
    RecordingKey key;
    std::string problem;
    ASSERT_TRUE(keyOf(scratch / "r.wav", "channel=1", key, problem)) << problem;
    EXPECT_EQ(key.path, scratch / "r.wav");
    EXPECT_EQ(key.size, 10u);
    EXPECT_EQ(key.modifiedNanoseconds, 1778560200000000250);
    EXPECT_EQ(key.options, "channel=1");
    EXPECT_FALSE(keyOf(scratch / "gone.wav", "", key, problem));
    EXPECT_NE(problem.find("gone.wav: No such file or directory"), std::string::npos) << problem;
}

TEST(JournalNames, AreAFixedHashOfThePath) {
    EXPECT_EQ(journalEntryName(""), "cbf29ce484222325.entry");
    EXPECT_EQ(journalEntryName("a"), "af63dc4c8601ec8c.entry");
    EXPECT_NE(journalEntryName("site1/a.wav"), journalEntryName("site2/a.wav"));
}

TEST(JournalFolders, AreCreatedWithTheirParentsAndRefusedWhereAFileStands) {
    testing::ScratchDirectory scratch;
    Journal journal;
    std::string problem;
    EXPECT_FALSE(journal.record(keyFor("early.wav"), FileResult(), problem));
    EXPECT_FALSE(journal.find(keyFor("early.wav")).has_value());
    ASSERT_TRUE(journal.open(scratch / "deep/out", problem)) << problem;
    EXPECT_TRUE(fs::is_directory(scratch / "deep/out/journal"));
    writeText(scratch / "flat", "");
    EXPECT_FALSE(journal.open(scratch / "flat", problem));
    EXPECT_NE(problem.find("flat/journal"), std::string::npos) << problem;
    EXPECT_FALSE(journal.record(keyFor("late.wav"), FileResult(), problem));
}

TEST(JournalFolders, OpeningRemovesOnlyTemporaryFilesLeftMoreThanADayAgo) {
    testing::ScratchDirectory scratch;
    fs::create_directories(scratch.path() / "journal");
    const std::string stale = scratch / "journal/.0123.entry.77-0.part";
    const std::string young = scratch / "journal/.4567.entry.78-0.part";
    const std::string oldEntry = scratch / "journal/89ab.entry";
    for (const auto& path : {stale, young, oldEntry}) writeText(path, "x");
    const timespec twoDaysAgo[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 2 * 24 * 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, stale.c_str(), twoDaysAgo, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, oldEntry.c_str(), twoDaysAgo, 0), 0);
    Journal journal;
    std::string problem;
    ASSERT_TRUE(journal.open(scratch.path().string(), problem)) << problem;
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(young));
    EXPECT_TRUE(fs::exists(oldEntry));
}

TEST_F(JournalTest, ProcessesRecordingAtOnceAllLand) {
    constexpr int kProcesses = 3;
    constexpr int kEntriesEach = 40;
    FileResult result = awkwardResult("shared.wav");
    result.detections.resize(20);
    std::vector<pid_t> children;
    for (int process = 0; process < kProcesses; ++process) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            bool allRecorded = true;
            for (int i = 0; i < kEntriesEach; ++i) {
                std::string problem;
                const std::string path =
                    "shard" + std::to_string(process) + "/" + std::to_string(i);
                allRecorded = journal.record(keyFor(path), result, problem) && allRecorded;
            }
            ::_exit(allRecorded ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int process = 0; process < kProcesses; ++process) {
        for (int i = 0; i < kEntriesEach; ++i) {
            const std::string path = "shard" + std::to_string(process) + "/" + std::to_string(i);
            EXPECT_TRUE(journal.find(keyFor(path)).has_value()) << path;
        }
    }
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(journal.folder())) {
        EXPECT_FALSE(bm7::isTemporaryFileName(entry.path().filename().string()));
        ++files;
    }
    EXPECT_EQ(files, std::size_t{kProcesses * kEntriesEach});
}

}  // namespace
}  // namespace bm7::scan
