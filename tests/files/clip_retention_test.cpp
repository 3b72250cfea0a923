#include "files/clip_retention.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <filesystem>
#include <string>

#include "files/files_fixture.h"

namespace bm7 {
namespace {

using testing::ScratchDirectory;
using testing::touch;

constexpr std::time_t kNow = 1709622489;
constexpr std::time_t kDay = 86400;

void touchAt(const std::string& name, std::time_t when) {
    touch(name);
    const timeval times[2] = {{when, 0}, {when, 0}};
    ::utimes(name.c_str(), times);
}

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
    EXPECT_EQ(removeOldClips(dir.path(), "Dick", 7, kNow), 2);
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
    EXPECT_EQ(removeOldClips(dir.path(), "Dick", 7, kNow), 0);
    EXPECT_EQ(removeOldClips(dir / "missing", "Dick", 7, kNow), 0);
}

}  // namespace
}  // namespace bm7
