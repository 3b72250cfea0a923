// Reads a live run's detection table (detections.csv in its clip folder): RFC 4180 text
// with the header line
//   begin_date_time,start_s,duration_s,song_ratio,peak_level_db,clip
// and one row per detection; an empty number cell (a score the station lacks, or a row
// it gave to a clip found without one) reads as NaN. A row that does not fit (a line cut short by a
// power cut, a number that does not read) is skipped with a warning naming its line, so one bad
// line never hides a day of detections.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bm7::report {

inline constexpr const char* kLiveTableHeader =
    "begin_date_time,start_s,duration_s,song_ratio,peak_level_db,clip";

struct LiveDetection {
    std::string beginDateTime;
    double startS = 0.0;
    double durationS = 0.0;
    double songRatio = 0.0;
    double peakLevelDb = 0.0;
    std::string clip;  // a file name in the clip folder; empty when the clip was refused
};

// Splits RFC 4180 text into records of fields (quoted fields may hold commas, quotes
// doubled, and line breaks; lines end in CRLF or LF). `lines` gets each record's first
// line number.
std::vector<std::vector<std::string>> parseCsv(std::string_view text, std::vector<int>& lines);

// False, with `problem`, when the table cannot be read or its header is not the one
// above; `warnings` gets one message per skipped row.
bool readLiveTable(const std::string& path, std::vector<LiveDetection>& rows,
                   std::vector<std::string>& warnings, std::string& problem);

}  // namespace bm7::report
