// To Log File: appends one line, a 24-character time stamp and then the input values,
// to a text log each time it runs. The log is opened and closed on every line, so every
// line written is on disk when update returns, and a log is only ever extended.
#pragma once

#include <ctime>

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

// Appends the line of time `now`; returns null, or the message of the failure.
const char* appendLogLine(const BlockRecord& block, std::time_t now);

void registerToLogFile(BlockRecord* block);

}  // namespace bm7
