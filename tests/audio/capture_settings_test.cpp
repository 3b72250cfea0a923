#include "audio/capture_settings.h"

#include <gtest/gtest.h>

namespace bm7 {
namespace {

struct Read {
    bool ok = false;
    CaptureSettings settings;
    std::string problem;
};

Read read(std::initializer_list<std::pair<const std::string, std::string>> options) {
    CommandLine commandLine;
    commandLine.options = options;
    Read result;
    result.ok = readCaptureSettings(commandLine, result.settings, result.problem);
    return result;
}

TEST(CaptureSettings, TakesTheDeviceOrTheFileWithItsChannelAndPace) {
    const Read none = read({});
    EXPECT_TRUE(none.ok);
    EXPECT_EQ(none.settings.deviceName, "");
    EXPECT_EQ(none.settings.inputFile, "");

    EXPECT_EQ(read({{"device", "USB"}}).settings.deviceName, "USB");
    EXPECT_FALSE(none.settings.reconnect);
    EXPECT_TRUE(read({{"device", "USB"}, {"reconnect", ""}}).settings.reconnect);

    const Read file = read({{"input", "dawn.flac"}, {"channel", "2"}, {"realtime", ""}});
    ASSERT_TRUE(file.ok) << file.problem;
    EXPECT_EQ(file.settings.inputFile, "dawn.flac");
    EXPECT_EQ(file.settings.channel, 2);
    EXPECT_TRUE(file.settings.realtime);
}

TEST(CaptureSettings, RefusesOptionsThatCannotWorkTogether) {
    for (const Read& bad :
         {read({{"input", ""}}), read({{"device", "x"}, {"input", "a.wav"}}),
          read({{"input", "a.wav"}, {"channel", "0"}}),
          read({{"input", "a.wav"}, {"channel", "2x"}}), read({{"channel", "1"}}),
          read({{"realtime", ""}}), read({{"input", "a.wav"}, {"reconnect", ""}})}) {
        EXPECT_FALSE(bad.ok);
        EXPECT_FALSE(bad.problem.empty());
    }
}

}  // namespace
}  // namespace bm7
