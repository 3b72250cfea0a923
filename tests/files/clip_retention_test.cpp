#include "files/clip_retention.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "files/files_fixture.h"
#include "support/captured_stream.h"

namespace bm7 {
namespace {

using testing::CapturedStream;
using testing::ScratchDirectory;
using testing::touch;

constexpr std::time_t kNow = 1709622489;
constexpr std::time_t kDay = 86400;

void touchAt(const std::string& name, std::time_t when) {
    touch(name);
    const timeval times[2] = {{when, 0}, {when, 0}};
    ::utimes(name.c_str(), times);
}

// Clocks a test sets: time passes on both, a step moves the wall clock alone.
struct TestClocks final : RetentionClocks {
    std::time_t wallSeconds() const override { return wall; }
    double monotonicSeconds() const override { return monotonic; }
    void pass(std::time_t seconds) {
        wall += seconds;
        monotonic += static_cast<double>(seconds);
    }
    std::time_t wall = kNow;
    double monotonic = 5000.0;
};

struct Retention {
    explicit Retention(int days) : keeper(days, clocks, out.get(), warnings.get()) {}
    TestClocks clocks;
    CapturedStream out;
    CapturedStream warnings;
    ClipRetention keeper;
};

TEST(OwnClipNames, AreThePrefixAStampOfAnyModeTheSuffixAndAFormatsExtension) {
    for (const char* name :
         {"Dick_000.00.04_00.wav", "Dick_1234.59.59_99.aif", "Dick_2024-03-05_07.08.09_00.txt",
          "Dick_00.flt", "Dick_001.00.00_03.nmx", "Dick_2024-03-05_07.08.09_100.wav"}) {
        EXPECT_TRUE(isOwnClipName(name, "Dick")) << name;
    }
    for (const char* name :
         {"Dick_000.00.04_00.wav.bak", "dick_000.00.04_00.wav", "Dick_00.00.04_00.wav",
          "Dick_000.00.04_0.wav", "Dick_000.00.04_00.mp3", "Dick_000.00.04.wav", "Dick notes.txt",
          ".Dick_000.00.04_00.wav.12-0.part", "Dick_2024-03-05_07.08_00.wav", "LogDick.txt"}) {
        EXPECT_FALSE(isOwnClipName(name, "Dick")) << name;
    }
}

TEST(ClipRetention, DeletesOnlyOwnClipsOlderThanTheLimit) {
    ScratchDirectory dir;
    touchAt(dir / "Dick_000.00.04_00.wav", kNow - 10 * kDay);
    touchAt(dir / "Dick_000.00.14_00.wav", kNow - 8 * kDay);
    touchAt(dir / "Dick_000.00.22_00.wav", kNow - 6 * kDay);
    touchAt(dir / "Dick_000.00.32_00.wav.keep", kNow - 10 * kDay);
    touchAt(dir / "LogDick.txt", kNow - 10 * kDay);
    touchAt(dir / "field notes.txt", kNow - 10 * kDay);
    Retention retention(7);
    EXPECT_EQ(retention.keeper.removeOldClips(dir.path(), "Dick"), 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "Dick_000.00.04_00.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Dick_000.00.14_00.wav"));
    for (const char* kept : {"Dick_000.00.22_00.wav", "Dick_000.00.32_00.wav.keep", "LogDick.txt",
                             "field notes.txt"}) {
        EXPECT_TRUE(std::filesystem::exists(dir / kept)) << kept;
    }
}

TEST(ClipRetention, LeavesAFolderOfClipNamedFoldersAlone) {
    ScratchDirectory dir;
    std::filesystem::create_directory(dir / "Dick_000.00.04_00.wav");
    touchAt(dir / "Dick_000.00.04_00.wav", kNow - 10 * kDay);
    Retention retention(7);
    EXPECT_EQ(retention.keeper.removeOldClips(dir.path(), "Dick"), 0);
    EXPECT_EQ(retention.keeper.removeOldClips(dir / "missing", "Dick"), 0);
}

TEST(ClipRetention, AClockStepSkipsOneCheckAndNeverAgesTheRunsOwnClips) {
    ScratchDirectory dir;
    Retention retention(1);
    touchAt(dir / "Dick_000.00.04_00.wav", kNow - 10 * kDay);  // of an earlier run
    for (const char* own : {"Dick_000.00.14_00.wav", "Dick_000.00.22_00.wav"}) {
        touchAt(dir / own, kNow);
        retention.keeper.noteOwnClip(dir / own);
    }
    retention.clocks.pass(3600);
    retention.clocks.wall += 3 * kDay;
    retention.keeper.hourlyCheck(dir.path(), "Dick");
    EXPECT_EQ(retention.out.text(), "");
    const std::string warning = retention.warnings.text();
    EXPECT_NE(warning.find("the system clock stepped forward by 72.0 hours"), std::string::npos)
        << warning;
    EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), 1) << warning;

    // Past the step, the wall clock ages what this run did not write, the monotonic clock
    // what it did.
    retention.clocks.pass(3600);
    retention.keeper.hourlyCheck(dir.path(), "Dick");
    EXPECT_EQ(retention.out.text(),
              "Removed 1 clip older than 1 day from " + dir.path().string() + "\n");
    EXPECT_TRUE(std::filesystem::exists(dir / "Dick_000.00.14_00.wav"));
    retention.clocks.pass(kDay);
    retention.keeper.hourlyCheck(dir.path(), "Dick");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(retention.warnings.text(), warning);
}

}  // namespace
}  // namespace bm7
