#include "audio/capture_settings.h"

#include <cstdio>

#include "audio/device_capture.h"
#include "audio/file_capture.h"

namespace bm7 {

namespace {

bool scanChannel(const std::string& text, int& channel) {
    char rest[2];
    return std::sscanf(text.c_str(), "%d%1s", &channel, rest) == 1 && channel >= 1;
}

}  // namespace

bool readCaptureSettings(const CommandLine& commandLine, CaptureSettings& settings,
                         std::string& problem) {
    settings = CaptureSettings{};
    settings.deviceName = commandLine.value("device");
    settings.inputFile = commandLine.value("input");
    settings.realtime = commandLine.has("realtime");
    settings.reconnect = commandLine.has("reconnect");
    if (commandLine.has("input") && settings.inputFile.empty()) {
        problem = "option --input needs a file name";
        return false;
    }
    if (commandLine.has("device") && commandLine.has("input")) {
        problem = "options --device and --input cannot be used together";
        return false;
    }
    if (commandLine.has("channel") &&
        !scanChannel(commandLine.value("channel"), settings.channel)) {
        problem = "option --channel needs a channel number from 1 up";
        return false;
    }
    if ((commandLine.has("channel") || settings.realtime) && settings.inputFile.empty()) {
        problem = "options --channel and --realtime apply only to --input";
        return false;
    }
    if (settings.reconnect && !settings.inputFile.empty()) {
        problem = "option --reconnect applies only to a sound device, not to --input";
        return false;
    }
    return true;
}

std::unique_ptr<CaptureLayer> makeCaptureLayer(const CaptureSettings& settings) {
    if (!settings.inputFile.empty()) {
        return std::make_unique<FileCapture>(settings.inputFile, settings.channel,
                                             settings.realtime);
    }
    return std::make_unique<DeviceCapture>(settings.deviceName, stderr, settings.reconnect);
}

}  // namespace bm7
