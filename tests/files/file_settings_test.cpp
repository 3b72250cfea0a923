#include "files/file_settings.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "files/files_fixture.h"
#include "files/text_param.h"

namespace bm7 {
namespace {

using testing::ScratchDirectory;
using testing::touch;

struct Read {
    bool ok;
    FileSettings settings;
    std::string problem;
};

Read readOptions(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"brakmoor7"};
    argv.insert(argv.end(), args);
    CommandLine commandLine;
    std::string problem;
    EXPECT_EQ(parseCommandLine(static_cast<int>(argv.size()), argv.data(), programOptions(),
                               commandLine, problem),
              ParseOutcome::run)
        << problem;
    Read read;
    read.ok = readFileSettings(commandLine, read.settings, read.problem);
    return read;
}

TEST(FileSettings, DefaultToPathsRelativeToTheWorkingDirectory) {
    const Read read = readOptions({});
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.settings.clipDirectory, "Calls");
    EXPECT_EQ(read.settings.logFile, "Calls/LogDick.txt");
    EXPECT_EQ(read.settings.stopFile, "stop.txt");
    EXPECT_EQ(read.settings.clipFormat, 1);
    EXPECT_EQ(read.settings.stampMode, 3);
}

TEST(FileSettings, TakeEveryOptionFromTheCommandLine) {
    const Read read =
        readOptions({"--clip-dir", "/data/calls", "--log-file=/data/level.txt", "--stop-file",
                     "/tmp/stop", "--clip-format", "aif", "--stamp", "local", "3600"});
    ASSERT_TRUE(read.ok) << read.problem;
    EXPECT_EQ(read.settings.clipDirectory, "/data/calls");
    EXPECT_EQ(read.settings.logFile, "/data/level.txt");
    EXPECT_EQ(read.settings.stopFile, "/tmp/stop");
    EXPECT_EQ(read.settings.clipFormat, 8);
    EXPECT_EQ(read.settings.stampMode, 2);
}

TEST(FileSettings, NameEveryFormatAndStampMode) {
    const char* formats[] = {"wav", "mac", "nmx", "txt", "txt16", "flt", "bin", "aif"};
    for (int code = 1; code <= 8; ++code) {
        int read = 0;
        EXPECT_TRUE(clipFormatCode(formats[code - 1], read));
        EXPECT_EQ(read, code);
    }
    int mode = 0;
    EXPECT_TRUE(stampModeCode("stream", mode));
    EXPECT_EQ(mode, 3);
    EXPECT_TRUE(stampModeCode("utc", mode));
    EXPECT_EQ(mode, 1);
    EXPECT_TRUE(stampModeCode("local", mode));
    EXPECT_EQ(mode, 2);
}

TEST(FileSettings, RefuseUnknownNamesAndPathsTheBlocksWouldMisread) {
    Read read = readOptions({"--clip-format", "mp3"});
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.problem,
              "unknown value \"mp3\" for --clip-format (use wav, mac, nmx, txt, txt16, flt, bin or "
              "aif)");
    read = readOptions({"--stamp", "UTC"});
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.problem, "unknown value \"UTC\" for --stamp (use stream, utc or local)");
    read = readOptions({"--clip-dir", ""});
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.problem, "option --clip-dir needs a non-empty path");
    const std::string longPath(512, 'a');
    read = readOptions({"--log-file", longPath.c_str()});
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.problem, "option --log-file is longer than 511 characters");
}

TEST(DiskGuardSettings, DefaultToOnePercentAndAtLeast64MegabytesKeepingEveryClip) {
    const Read read = readOptions({});
    EXPECT_EQ(read.settings.minFreeBytes, 64U << 20);
    EXPECT_EQ(read.settings.minFreePercent, 1.0);
    EXPECT_EQ(read.settings.keepDays, 0);
}

TEST(DiskGuardSettings, ReadSizesWithUnitsPercentagesAndDays) {
    struct Case {
        const char* text;
        std::uint64_t bytes;
        double percent;
    };
    for (const Case& c :
         {Case{"0", 0, 0.0}, Case{"5000", 5000, 0.0}, Case{"100k", 102400, 0.0},
          Case{"64M", 64U << 20, 0.0}, Case{"2G", std::uint64_t{2} << 30, 0.0},
          Case{"1.5G", std::uint64_t{3} << 29, 0.0}, Case{"2%", 0, 2.0}, Case{"0.5%", 0, 0.5}}) {
        const Read read = readOptions({"--min-free", c.text, "--keep-days", "30"});
        ASSERT_TRUE(read.ok) << c.text << ": " << read.problem;
        EXPECT_EQ(read.settings.minFreeBytes, c.bytes) << c.text;
        EXPECT_EQ(read.settings.minFreePercent, c.percent) << c.text;
        EXPECT_EQ(read.settings.keepDays, 30);
    }
    for (const char* bad : {"", "-1", "64MB", "64m", "x", "101%", "5%%", "nan", "1e30G"}) {
        const Read read = readOptions({"--min-free", bad});
        EXPECT_FALSE(read.ok) << bad;
        EXPECT_NE(read.problem.find("--min-free"), std::string::npos) << read.problem;
    }
    for (const char* bad : {"0", "-3", "7.5", "week"}) {
        const Read read = readOptions({"--keep-days", bad});
        EXPECT_FALSE(read.ok) << bad;
        EXPECT_NE(read.problem.find("--keep-days"), std::string::npos) << read.problem;
    }
}

TEST(TextParameters, RoundTripThroughTheBlocksReaderAndAreCutAt511Characters) {
    const std::string path = "Calls/\xC3\xA9t\xC3\xA9/LogDick.txt";
    const std::vector<double> run = textParameter(path);
    std::vector<double> rounded = run;
    rounded[2] += 0.4;  // codes round to the nearest character
    rounded[3] -= 0.4;
    const std::string longText(600, 'x');
    const std::vector<double> longRun = textParameter(longText);
    const ParamValue params[] = {{run.data()}, {rounded.data()}, {longRun.data()}};
    BlockRecord block;
    block.params = params;
    TextBuffer buffer;
    EXPECT_EQ(readTextParam(block, 0, buffer), path);
    EXPECT_EQ(readTextParam(block, 1, buffer), path);
    EXPECT_EQ(readTextParam(block, 2, buffer), std::string(511, 'x'));
}

TEST(ClipDirectory, IsCreatedWithItsParentsOrNamedInTheFailure) {
    ScratchDirectory dir;
    const std::string nested = dir / "site/2026/Calls";
    EXPECT_EQ(createClipDirectory(nested), "");
    EXPECT_TRUE(std::filesystem::is_directory(nested));
    EXPECT_EQ(createClipDirectory(nested), "");

    touch(dir / "plain");
    const std::string blocked = dir / "plain/Calls";
    const std::string message = createClipDirectory(blocked);
    EXPECT_EQ(message.rfind("Cannot create clip directory \"" + blocked + "\": ", 0), 0U)
        << message;
    EXPECT_EQ(createClipDirectory(dir / "plain").rfind("Cannot create clip directory", 0), 0U);
}

TEST(LogDirectory, IsCreatedAboveTheLogUnlessTheLogIsInTheWorkingDirectory) {
    ScratchDirectory dir;
    EXPECT_EQ(createLogDirectory(dir / "levels/2026/LogDick.txt"), "");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "levels/2026"));
    EXPECT_FALSE(std::filesystem::exists(dir / "levels/2026/LogDick.txt"));
    EXPECT_EQ(createLogDirectory("LogDick.txt"), "");
    touch(dir / "plain");
    EXPECT_EQ(createLogDirectory(dir / "plain/LogDick.txt"),
              "Cannot create log directory \"" + (dir / "plain") + "\": Not a directory");
}

}  // namespace
}  // namespace bm7
