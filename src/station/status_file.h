// The station's status in the Prometheus text exposition format, so that the node
// exporter's text-file collector can publish it and anyone can read it with cat. The
// file is rewritten whole (temporary name, then rename): a reader never sees half of it.
#pragma once

#include <cstdint>
#include <string>

namespace bm7::station {

struct StationStatus {
    bool up = true;
    double audioSeconds = 0.0;
    std::uint64_t frames = 0;
    std::uint64_t detections = 0;
    std::uint64_t clipsSaved = 0;
    std::uint64_t clipsRefused = 0;
    std::uint64_t deviceOverflows = 0;
    std::uint64_t deviceLost = 0;
    double lastAudioTimestamp = 0.0;  // Unix seconds of the newest audio
    double bandLevelDb = 0.0;         // the last frame's mean band energy; -Inf in silence
    double diskFreeBytes = 0.0;       // free space of the clip folder's file system
};

// Every metric with its HELP and TYPE lines.
std::string formatStatus(const StationStatus& status);

bool writeStatusFile(const std::string& path, const StationStatus& status, std::string& problem);

}  // namespace bm7::station
