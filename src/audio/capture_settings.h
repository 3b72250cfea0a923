// Where the audio comes from, as the command line says: a sound device (the default one,
// or the first whose name contains --device NAME, waited for with --reconnect) or an
// audio file (--input FILE, with --channel N and --realtime). Whoever builds the model makes the
// layer here and hands it to the WaveIn block with placeCaptureLayer.
#pragma once

#include <memory>
#include <string>

#include "audio/capture_layer.h"
#include "driver/command_line.h"

namespace bm7 {

struct CaptureSettings {
    std::string deviceName;  // empty: the default input device
    std::string inputFile;   // empty: capture from a device
    int channel = 0;         // of the input file, from 1; 0: the first
    bool realtime = false;   // pace the input file like a sound card
    bool reconnect = false;  // wait for a lost or missing device instead of ending
};

// False, with the fault in `problem`, for option values that cannot work together.
bool readCaptureSettings(const CommandLine& commandLine, CaptureSettings& settings,
                         std::string& problem);
std::unique_ptr<CaptureLayer> makeCaptureLayer(const CaptureSettings& settings);

}  // namespace bm7
