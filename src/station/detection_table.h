// The live detection table: one CSV line per detection, appended as soon as its clip is
// saved or refused. Rows go to the file whole or not at all: a write that falls short is
// cut back, and the rows that found no room wait in memory, oldest first, to be written
// before the next one. Opening the table drops a partial last line (a power cut), moves
// malformed rows before it aside into "<table>.damaged", and writes the header only to a
// new or empty file, so restarts keep appending. Used from the model's thread only.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <deque>
#include <set>
#include <string>
#include <string_view>

namespace bm7::station {

inline constexpr const char* kDetectionTableHeader =
    "begin_date_time,start_s,duration_s,song_ratio,peak_level_db,clip";

// Rows kept while the table cannot be written: days of detections at a busy station. A
// disk that never frees loses the rows beyond them, counted in the hourly warning.
inline constexpr std::size_t kMostRowsWaiting = 10000;

struct TableRow {
    std::string beginDateTime;  // ISO 8601 with milliseconds and UTC offset; may be empty
    double startSeconds = 0.0;  // stream offset of the detection's first sample
    double durationSeconds = 0.0;
    double songRatio = 0.0;  // each number is an empty cell when it is not finite
    double peakLevelDb = 0.0;
    std::string clip;  // file name in the clip folder; empty when the clip was refused
};

// What open() found in a table that was already there, before it touched it.
struct TableFound {
    bool existed = false;
    struct timespec modified {};  // when the file was last written
    std::set<std::string> clips;  // the clip cells of its well-formed rows
    std::string lastClip;         // the last of those that is not empty
};

// The rows of a table body, as the repair at open sorts them.
struct SortedRows {
    std::string kept;     // the well-formed rows, in order, each with its line end
    std::string damaged;  // the malformed ones, for the side file
    std::size_t damagedCount = 0;
};

class DetectionTable {
public:
    DetectionTable() = default;
    ~DetectionTable();
    DetectionTable(const DetectionTable&) = delete;
    DetectionTable& operator=(const DetectionTable&) = delete;

    // Opens or creates the table and repairs it; what it repaired, and any repair it
    // could not make, is said on `warnings`. On failure `problem` names the file and
    // gives the system's reason.
    bool open(const std::string& path, std::FILE* warnings, std::string& problem);
    const TableFound& found() const { return found_; }

    // Writes every waiting row and then this one. Never fails: a row that finds no room
    // waits; the first failure is said at once, later ones only by reportWaiting().
    void append(const TableRow& row);
    // Once an hour: tries the waiting rows again and says how many still wait.
    void reportWaiting();
    std::size_t rowsWaiting() const { return waiting_.size(); }
    // A last try for the waiting rows; those that still find no room are shown on the
    // warning stream rather than lost.
    void close();

private:
    bool repair(const std::string& text, std::string& problem);
    bool moveAside(const std::string& table, const SortedRows& rows);
    bool writeWaiting();
    bool followPath();
    bool writeBatch(std::size_t rows);
    void wait(std::string line);
    void sayWaitingWritten(std::size_t rows);
    void sayRowsLost();

    int fd_ = -1;
    std::string path_;
    std::FILE* warnings_ = stderr;
    TableFound found_;
    std::deque<std::string> waiting_;
    std::size_t rowsLost_ = 0;
    std::string lastFailure_;
};

// One row as its line, newline included.
std::string formatTableRow(const TableRow& row);

// Whether `record` (one CSV record without its line end) is a row as formatTableRow writes
// it: six fields; a date-time as isoDateTime writes it, or empty; four plain decimal
// numbers, each possibly empty; a clip name without "/". `clip` gets the clip cell.
bool isWellFormedRow(std::string_view record, std::string& clip);

}  // namespace bm7::station
