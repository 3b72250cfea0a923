#include "files/clip_name.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace bm7 {

namespace {

// Any entry counts, readable or not, a dangling link or a folder: none may be replaced.
bool nameTaken(const std::string& name) {
    struct stat status {};
    return ::lstat(name.c_str(), &status) == 0;
}

}  // namespace

double streamSeconds(int first, int framesSeen, int frameSize, double sampleRate) {
    const std::int64_t sample =
        std::int64_t{first} + std::int64_t{framesSeen} * std::int64_t{frameSize};
    return static_cast<double>(sample) / sampleRate;
}

std::string streamStamp(double seconds) {
    // Far beyond any run, and safe to convert to 64-bit hours.
    if (!(seconds >= 0.0 && seconds < 1e15)) return "";
    const double hours = std::floor(seconds * 0.0002777777777777778);
    const double rest = seconds - 3600.0 * hours;
    const double minutes = std::floor(rest * 0.016666666666666666);
    const double wholeSeconds = std::floor(rest - 60.0 * minutes);
    char text[48];
    std::snprintf(text, sizeof text, "_%.3" PRId64 ".%.2d.%.2d", static_cast<std::int64_t>(hours),
                  static_cast<int>(minutes), static_cast<int>(wholeSeconds));
    return text;
}

std::string calendarStamp(std::time_t now, bool utc) {
    std::tm fields{};
    if ((utc ? gmtime_r(&now, &fields) : localtime_r(&now, &fields)) == nullptr) return "";
    char text[96];
    std::snprintf(text, sizeof text, "_%.4d-%.2d-%.2d_%.2d.%.2d.%.2d", fields.tm_year + 1900,
                  fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
    return text;
}

std::string clipStamp(int mode, double seconds, std::time_t now) {
    switch (mode) {
    case kStampUtc:
        return calendarStamp(now, true);
    case kStampLocal:
        return calendarStamp(now, false);
    case kStampStream:
        return streamStamp(seconds);
    default:
        return "";
    }
}

std::string freeClipName(const std::string& stem, const char* extension) {
    for (int suffix = 0;; ++suffix) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "_%.2d", suffix);
        std::string name = stem + digits + extension;
        if (!nameTaken(name)) return name;
    }
}

}  // namespace bm7
