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

void addMetric(std::string& out, const char* name, const char* type, const char* help,
               const std::string& value) {
    out += std::string("# HELP brakmoor7_") + name + " " + help + "\n";
    out += std::string("# TYPE brakmoor7_") + name + " " + type + "\n";
    out += std::string("brakmoor7_") + name + " " + value + "\n";
}

}  // namespace

std::string formatStatus(const StationStatus& s) {
    std::string out;
    const auto count = [](std::uint64_t value) { return std::to_string(value); };
    addMetric(out, "up", "gauge", "1 while the monitor runs, 0 once it has ended.",
              s.up ? "1" : "0");
    addMetric(out, "audio_seconds_total", "counter", "Seconds of audio analysed.",
              sampleValue(s.audioSeconds));
    addMetric(out, "frames_total", "counter", "Frames of 8192 samples analysed.",
              count(s.frames));
    addMetric(out, "detections_total", "counter", "Song detections.", count(s.detections));
    addMetric(out, "clips_saved_total", "counter", "Clips saved.", count(s.clipsSaved));
    addMetric(out, "clips_refused_total", "counter",
              "Detections whose clip was not saved for lack of disk space.",
              count(s.clipsRefused));
    addMetric(out, "device_overflows_total", "counter",
              "Times the sound device lost audio because the monitor fell behind.",
              count(s.deviceOverflows));
    addMetric(out, "device_lost_total", "counter", "Times the sound input was lost.",
              count(s.deviceLost));
    addMetric(out, "last_audio_timestamp_seconds", "gauge",
              "Unix time of the newest audio analysed.", sampleValue(s.lastAudioTimestamp));
    addMetric(out, "band_level_db", "gauge",
              "Mean energy of the detector band over the last frame, in dB.",
              sampleValue(s.bandLevelDb));
    addMetric(out, "disk_free_bytes", "gauge",
              "Free bytes on the file system of the clip folder.",
              sampleValue(s.diskFreeBytes));
    return out;
}

bool writeStatusFile(const std::string& path, const StationStatus& status,
                     std::string& problem) {
    return writeFileAtomically(path, formatStatus(status), problem);
}

}  // namespace bm7::station
