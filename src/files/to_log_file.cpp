#include "files/to_log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "driver/command_line.h"
#include "files/file_guard.h"
#include "files/text_param.h"

namespace bm7 {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string valuesText(const BlockRecord& block) {
    const int width = std::min(paramInt(block, kLogWidth), block.inputPorts[0].width);
    std::string text;
    char value[64];
    for (int i = 0; i < width; ++i) {
        std::snprintf(value, sizeof value, "%.15e ", *block.inputPorts[0].elementPointers[i]);
        text += value;
    }
    return text;
}

LogAppend logFailure(const char* message, const std::string& logFile) {
    return {message, errno, logFile + ": " + std::strerror(errno)};
}

// One write, so that a crash leaves whole lines. A short write is a disk that filled up
// part-way: the part is taken back so that the log never holds half a line.
bool writeWhole(int fd, const std::string& lines) {
    struct stat before {};
    const bool regular = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
    const ssize_t written = ::write(fd, lines.data(), lines.size());
    if (written == static_cast<ssize_t>(lines.size())) return true;
    if (written >= 0) errno = ENOSPC;
    const int saved = errno;
    if (written > 0 && regular && ::ftruncate(fd, before.st_size) != 0) {
        // Nothing more can be done: the reason of the short write is what counts.
    }
    errno = saved;
    return false;
}

std::string logFileName(const BlockRecord& block) {
    TextBuffer name;
    return readTextParam(block, kLogFileName, name);
}

// The level log is secondary to detection: with the run's guard, a line that cannot be
// written for whatever reason is kept for the next hour rather than ending the run.
void reportLogFailure(BlockRecord& block, FileGuard* guard, const LogAppend& result,
                      const std::string& line) {
    if (guard == nullptr) {
        reportError(block, result.failure);
    } else {
        guard->keepLogLine(line, logFileName(block), std::strerror(result.error));
    }
}

void initializeSizes(BlockRecord* block) {
    block->paramCountExpected = kToLogFileParamCount;
    block->contStateCount = 0;
    block->discStateCount = 0;
    block->sampleTimeCount = 1;
    block->integerWorkCount = 0;
    block->realWorkCount = 0;
    block->pointerWorkCount = 1;  // the run's FileGuard, when the model gives one
    block->inputCount = 1;
    block->outputCount = 0;
    block->inputPorts[0].width = paramInt(*block, kLogWidth);
    block->inputPorts[0].directFeedthrough = 0;
}

void appendThisHoursLine(BlockRecord& block) {
    const std::string name = logFileName(block);
    if (name.empty()) return;  // the log is off
    FileGuard* guard = fileGuardOf(block);
    const std::string line = logLine(block, std::time(nullptr));
    const std::string kept = guard != nullptr ? guard->keptLogLines() : "";
    const LogAppend result = appendWholeLines(name, kept + line);
    if (result.failure != nullptr) {
        reportLogFailure(block, guard, result, line);
    } else if (guard != nullptr) {
        guard->keptLogLinesWritten(name);
    }
}

// Lines still kept at the end of a run get one more try, and are shown rather than lost.
void writeKeptLines(BlockRecord& block) {
    FileGuard* guard = fileGuardOf(block);
    if (guard == nullptr || guard->keptLogLines().empty()) return;
    const std::string name = logFileName(block);
    if (appendWholeLines(name, guard->keptLogLines()).failure == nullptr) {
        guard->keptLogLinesWritten(name);
        return;
    }
    if (guard->warnings() == nullptr) return;
    std::fprintf(guard->warnings(), "%s: warning: these lines could not be appended to %s:\n%s",
                 kModelName, name.c_str(), guard->keptLogLines().c_str());
    std::fflush(guard->warnings());
}

// The line is built on the heap; running out of it must not unwind through the block.
void update(BlockRecord* block, int) {
    try {
        appendThisHoursLine(*block);
    } catch (const std::bad_alloc&) {
        reportError(*block, kLogWriteError);
    }
}

void terminate(BlockRecord* block) {
    try {
        writeKeptLines(*block);
    } catch (const std::bad_alloc&) {
        // Nothing is left to tell it with.
    }
}

}  // namespace

void logStamp(std::time_t now, bool utc, char (&text)[kLogStampSize]) {
    std::tm fields{};
    if ((utc ? gmtime_r(&now, &fields) : localtime_r(&now, &fields)) == nullptr) fields = {};
    std::snprintf(text, sizeof text, "%s %s %.2d %.2d:%.2d:%.2d %.4d",
                  kDayNames[std::clamp(fields.tm_wday, 0, 6)],
                  kMonthNames[std::clamp(fields.tm_mon, 0, 11)], fields.tm_mday, fields.tm_hour,
                  fields.tm_min, fields.tm_sec, fields.tm_year + 1900);
}

std::string logLine(const BlockRecord& block, std::time_t now) {
    char stamp[kLogStampSize];
    logStamp(now, paramInt(block, kLogClock) == 1, stamp);
    return std::string(stamp) + " " + valuesText(block) + "\n";
}

LogAppend appendWholeLines(const std::string& logFile, const std::string& lines) {
    const int fd = ::open(logFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return logFailure(kLogOpenError, logFile);
    const bool written = writeWhole(fd, lines);
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (written && closed) return {};
    if (!written) errno = writeError;
    return logFailure(kLogWriteError, logFile);
}

const char* appendLogLine(const BlockRecord& block, std::time_t now) {
    const std::string name = logFileName(block);
    if (name.empty()) return nullptr;  // the log is off
    return appendWholeLines(name, logLine(block, now)).failure;
}

void registerToLogFile(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = emptyMethod;
    methods.outputs.byRecord = emptyTaskMethod;
    methods.update = update;
    methods.terminate = terminate;
}

}  // namespace bm7
