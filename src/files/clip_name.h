// Names of clip files: the directory, "/", the prefix, a time stamp, a suffix of two or
// more digits that steers clear of existing files, and the format's extension. Stamps are pure
// functions of their inputs; only the suffix probe looks at the file system.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace bm7 {

// Stamp modes of Clip & Save.
inline constexpr int kStampUtc = 1;
inline constexpr int kStampLocal = 2;
inline constexpr int kStampStream = 3;

// Seconds of audio before window index `first` of the frame after `framesSeen` frames,
// counted in 64 bits so that runs longer than 2^31 samples stay right.
double streamSeconds(int first, int framesSeen, int frameSize, double sampleRate);

// "_hhh.mm.ss" of a stream time; empty for a negative or non-finite time.
std::string streamStamp(double seconds);

// "_YYYY-MM-DD_hh.mm.ss" of a calendar time, in UTC or local time.
std::string calendarStamp(std::time_t now, bool utc);

// The stamp of a stamp mode: stream time, or `now` for the calendar modes; empty for
// any other mode.
std::string clipStamp(int mode, double seconds, std::time_t now);

// stem + "_NN" + extension with the first suffix 00, 01, ... 99, 100, 101 ... under
// which nothing exists yet.
std::string freeClipName(const std::string& stem, const char* extension);

// What a clip's file name tells of its stamp. `calendar` is set for a calendar stamp,
// whose date and time are then in `fields` (tm_year, tm_mon, tm_mday, tm_hour, tm_min,
// tm_sec); a stream stamp holds no date-time.
struct ClipNameStamp {
    bool calendar = false;
    std::tm fields{};
};

// Whether `fileName` is a clip name made from `prefix` and `extension`: the prefix, a
// stream or calendar stamp or none, "_" and two or more digits, the extension.
bool readClipName(std::string_view fileName, std::string_view prefix, std::string_view extension,
                  ClipNameStamp& stamp);

}  // namespace bm7
