#include "files/clip_name.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

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

namespace {

// Reads `count` or more digits (exactly `count` when `exact`) from the front of `text`.
std::optional<int> takeNumber(std::string_view& text, std::size_t count, bool exact) {
    std::size_t length = 0;
    while (length < text.size() && text[length] >= '0' && text[length] <= '9') ++length;
    if (length < count || (exact && length != count) || length > 9) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < length; ++i) value = value * 10 + (text[i] - '0');
    text.remove_prefix(length);
    return value;
}

bool takeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

// "hh.mm.ss" ending a stamp; the hours of a stream stamp run to three digits or more.
bool takeClock(std::string_view& text, std::size_t hourDigits, bool exactHours, std::tm& fields) {
    const auto hours = takeNumber(text, hourDigits, exactHours);
    if (!hours || !takeChar(text, '.')) return false;
    const auto minutes = takeNumber(text, 2, true);
    if (!minutes || !takeChar(text, '.')) return false;
    const auto seconds = takeNumber(text, 2, true);
    if (!seconds) return false;
    fields.tm_hour = *hours;
    fields.tm_min = *minutes;
    fields.tm_sec = *seconds;
    return true;
}

// "YYYY-MM-DD_" opening a calendar stamp.
bool takeDate(std::string_view& text, std::tm& fields) {
    const auto year = takeNumber(text, 4, true);
    if (!year || !takeChar(text, '-')) return false;
    const auto month = takeNumber(text, 2, true);
    if (!month || !takeChar(text, '-')) return false;
    const auto day = takeNumber(text, 2, true);
    if (!day || !takeChar(text, '_')) return false;
    fields.tm_year = *year - 1900;
    fields.tm_mon = *month - 1;
    fields.tm_mday = *day;
    return true;
}

}  // namespace

bool readClipName(std::string_view fileName, std::string_view prefix, std::string_view extension,
                  ClipNameStamp& stamp) {
    if (!fileName.starts_with(prefix) || !fileName.ends_with(extension)) return false;
    std::string_view rest = fileName.substr(prefix.size());
    if (rest.size() < extension.size()) return false;
    rest.remove_suffix(extension.size());
    if (!takeChar(rest, '_')) return false;
    stamp = {};
    std::string_view calendar = rest;
    std::string_view stream = rest;
    if (takeDate(calendar, stamp.fields) && takeClock(calendar, 2, true, stamp.fields)) {
        stamp.calendar = true;
        rest = calendar;
    } else if (takeClock(stream, 3, false, stamp.fields)) {
        rest = stream;
    } else {
        // A mode without a stamp: the suffix follows the prefix.
        return takeNumber(rest, 2, false) && rest.empty();
    }
    return takeChar(rest, '_') && takeNumber(rest, 2, false) && rest.empty();
}

}  // namespace bm7
