// When a recording began, read from what recorders leave in their files: a GUANO
// `Timestamp`, an autonomous recorder's comment, or the file name; and that instant
// rendered for the tables and clip names. Everything here is a pure function of its
// inputs (and the read-only time-zone database), safe to call from any thread.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "scan/time_zone.h"

namespace bm7::scan {

enum class TimeSource { none, guano, comment, name };

// "guano", "comment", "name", or "" for none: the words the file table uses.
std::string_view timeSourceName(TimeSource source);

struct RecordingStart {
    TimeSource source = TimeSource::none;
    std::int64_t unixMilliseconds = 0;
    // True when the source stated its own UTC offset, which is then used for every
    // instant of the recording; otherwise the time zone's offset at each instant is.
    bool fixedOffset = false;
    // The stated offset, or the zone's offset at the start.
    int offsetMinutes = 0;
    // Why a date-time that a source gave was not taken ("ignored the year 0000 in the
    // name, outside 1970-2100"), or empty.
    std::string ignored;
};

// The start of an open file: its `guan` chunk's Timestamp, else its recorder comment,
// else the base name of `path`. `file` may be null (only the name is read then). Source
// `none` when nothing gives a valid date-time. A date-time before 1970 or after 2100 is
// damage or a clock never set, not a start: the next source is asked, and `ignored` says
// why.
RecordingStart readRecordingStart(SNDFILE* file, const std::string& path, const TimeZone& zone);

// A GUANO metadata text's `Timestamp` field: "YYYY-MM-DDTHH:MM:SS[.fff][Z|+HH:MM]"; without
// an offset it is a wall-clock time in `zone`.
std::optional<RecordingStart> parseGuanoTimestamp(std::string_view guanoText, const TimeZone& zone);

// "Recorded at HH:MM:SS DD/MM/YYYY (UTC+H[:MM])", or "(UTC)".
std::optional<RecordingStart> parseRecorderComment(std::string_view comment);

// "[PREFIX_]YYYYMMDD_HHMMSS[T].ext" with `_`, `$` or `-` between date and time, in
// `zone`; or eight hexadecimal digits of Unix time.
std::optional<RecordingStart> parseFileNameTime(std::string_view baseName, const TimeZone& zone);

// start + offsetSeconds as "2026-05-12T04:31:07.250-05:00" ("...Z" at offset zero),
// rounded to the millisecond; empty for source none or an offset beyond any recording.
std::string formatDateTime(const RecordingStart& start, double offsetSeconds, const TimeZone& zone);

// "_YYYY-MM-DD_HH.MM.SS" of start + offsetSeconds, in UTC or, when `localZone` is given,
// that zone's wall-clock time; empty where formatDateTime is.
std::string formatClipStamp(const RecordingStart& start, double offsetSeconds,
                            const TimeZone* localZone);

}  // namespace bm7::scan
