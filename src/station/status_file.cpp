#include "station/status_file.h"

#include <charconv>
#include <cmath>

#include "files/atomic_file.h"

namespace bm7::station {

namespace {

// The exposition format spells the non-finite values its own way.
std::string sampleValue(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

}  // namespace

std::string formatStatus(const StationStatus& s) {
    struct Metric {
        const char* name;
        const char* type;
        const char* help;
        std::string value;
    };
    const auto count = [](std::uint64_t value) { return std::to_string(value); };
    const Metric metrics[] = {
        {"up", "gauge", "1 while the monitor runs, 0 once it has ended.", s.up ? "1" : "0"},
        {"audio_seconds_total", "counter", "Seconds of audio analysed.",
         sampleValue(s.audioSeconds)},
        {"frames_total", "counter", "Frames of 8192 samples analysed.", count(s.frames)},
        {"detections_total", "counter", "Song detections.", count(s.detections)},
        {"clips_saved_total", "counter", "Clips saved.", count(s.clipsSaved)},
        {"clips_refused_total", "counter",
         "Detections whose clip was not saved for lack of disk space.", count(s.clipsRefused)},
        {"device_overflows_total", "counter",
         "Times the sound device lost audio because the monitor fell behind.",
         count(s.deviceOverflows)},
        {"device_lost_total", "counter", "Times the sound input was lost.", count(s.deviceLost)},
        {"last_audio_timestamp_seconds", "gauge", "Unix time of the newest audio analysed.",
         sampleValue(s.lastAudioTimestamp)},
        {"band_level_db", "gauge", "Mean energy of the detector band over the last frame, in dB.",
         sampleValue(s.bandLevelDb)},
        {"disk_free_bytes", "gauge", "Free bytes on the file system of the clip folder.",
         sampleValue(s.diskFreeBytes)},
    };
    std::string out;
    for (const Metric& metric : metrics) {
        const std::string name = std::string("brakmoor7_") + metric.name;
        out += "# HELP " + name + " " + metric.help + "\n";
        out += "# TYPE " + name + " " + metric.type + "\n";
        out += name + " " + metric.value + "\n";
    }
    return out;
}

bool writeStatusFile(const std::string& path, const StationStatus& status, std::string& problem) {
    return writeFileAtomically(path, formatStatus(status), problem);
}

}  // namespace bm7::station
