#include "files/to_log_file.h"

#include <algorithm>
#include <cstdio>

#include "files/text_param.h"

namespace bm7 {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool printValues(std::FILE* file, const BlockRecord& block) {
    const int width = std::min(paramInt(block, kLogWidth), block.inputPorts[0].width);
    for (int i = 0; i < width; ++i) {
        if (std::fprintf(file, "%.15e ", *block.inputPorts[0].elementPointers[i]) < 0) return false;
    }
    return true;
}

void initializeSizes(BlockRecord* block) {
    block->paramCountExpected = kToLogFileParamCount;
    block->contStateCount = 0;
    block->discStateCount = 0;
    block->sampleTimeCount = 1;
    block->integerWorkCount = 0;
    block->realWorkCount = 0;
    block->pointerWorkCount = 0;
    block->inputCount = 1;
    block->outputCount = 0;
    block->inputPorts[0].width = paramInt(*block, kLogWidth);
    block->inputPorts[0].directFeedthrough = 0;
}

void update(BlockRecord* block, int) {
    if (const char* failure = appendLogLine(*block, std::time(nullptr))) {
        reportError(*block, failure);
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

const char* appendLogLine(const BlockRecord& block, std::time_t now) {
    TextBuffer name;
    if (*readTextParam(block, kLogFileName, name) == '\0') return nullptr;  // the log is off
    char stamp[kLogStampSize];
    logStamp(now, paramInt(block, kLogClock) == 1, stamp);
    std::FILE* file = std::fopen(name.data(), "a");
    if (file == nullptr) return kLogOpenError;
    const bool written = std::fprintf(file, "%s ", stamp) >= 0 && printValues(file, block) &&
                         std::fputs("\n", file) >= 0;
    // A full disk often shows only when the buffered line is flushed by the close.
    const bool closed = std::fclose(file) == 0;
    return written && closed ? nullptr : kLogWriteError;
}

void registerToLogFile(BlockRecord* block) {
    MethodTable& methods = block->methods;
    methods.initializeSizes = initializeSizes;
    methods.initializeSampleTimes = inheritSampleTime;
    methods.initializeConditions.byRecord = emptyMethod;
    methods.outputs.byRecord = emptyTaskMethod;
    methods.update = update;
    methods.terminate = emptyMethod;
}

}  // namespace bm7
