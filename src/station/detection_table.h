// The live detection table: one CSV line per detection, appended as soon as its clip is
// saved or refused. Each line goes to the file in one write and is flushed, so a power
// cut can leave at most a partial last line; opening the table again drops it. The
// header is written only to a new or empty file, so restarts keep appending.
#pragma once

#include <string>

namespace bm7::station {

inline constexpr const char* kDetectionTableHeader =
    "begin_date_time,start_s,duration_s,song_ratio,peak_level_db,clip";

struct TableRow {
    std::string beginDateTime;  // ISO 8601 with milliseconds and UTC offset
    double startSeconds = 0.0;  // stream offset of the detection's first sample
    double durationSeconds = 0.0;
    double songRatio = 0.0;
    double peakLevelDb = 0.0;
    std::string clip;  // file name in the clip folder; empty when the clip was refused
};

class DetectionTable {
public:
    DetectionTable() = default;
    ~DetectionTable();
    DetectionTable(const DetectionTable&) = delete;
    DetectionTable& operator=(const DetectionTable&) = delete;

    // Opens or creates the table, repairing a partial last line. On failure `problem`
    // names the file and gives the system's reason.
    bool open(const std::string& path, std::string& problem);
    bool append(const TableRow& row, std::string& problem);
    void close();

private:
    bool writeWhole(const std::string& text, std::string& problem);

    int fd_ = -1;
    std::string path_;
};

// One row as its line, newline included.
std::string formatTableRow(const TableRow& row);

}  // namespace bm7::station
