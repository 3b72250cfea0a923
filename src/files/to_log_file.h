// To Log File: appends one line, a 24-character time stamp and then the input values,
// to a text log each time it runs. The log is opened and closed on every line, so every
// line written is on disk when update returns, and a log is only ever extended. Each
// append is one write of whole lines to a file opened for appending, so a crash never
// leaves half a line. With the run's FileGuard, a line that cannot be written (no room,
// a log made read-only or removed with its folder) is kept and written before the next
// one instead of ending the run.
#pragma once

#include <ctime>
#include <string>

#include "driver/block.h"

namespace bm7 {

// Parameters, in order: input width, clock (1 = UTC, otherwise local time), log file.
enum ToLogFileParam { kLogWidth, kLogClock, kLogFileName, kToLogFileParamCount };

inline constexpr const char* kLogOpenError = "Error opening log file";
inline constexpr const char* kLogWriteError = "Error writing log file";

// "Tue Mar 05 07:08:09 2024": English day and month names whatever the locale, the day
// of month with a leading zero.
inline constexpr int kLogStampSize = 64;
void logStamp(std::time_t now, bool utc, char (&text)[kLogStampSize]);

// The line of time `now`: stamp, a space, the values, a newline.
std::string logLine(const BlockRecord& block, std::time_t now);

struct LogAppend {
    const char* failure = nullptr;  // null, kLogOpenError or kLogWriteError
    int error = 0;                  // errno of the failure
    std::string detail;             // the file and the system's reason
};

// Appends `lines` to `logFile` with a single write; a short write is taken back.
LogAppend appendWholeLines(const std::string& logFile, const std::string& lines);

// Appends the line of time `now`; returns null, or the message of the failure.
const char* appendLogLine(const BlockRecord& block, std::time_t now);

void registerToLogFile(BlockRecord* block);

}  // namespace bm7
