// What the scan learns about one recording: the row of files.csv and its detections,
// with every number kept exactly, so that a result read back from the resume journal
// writes the same table bytes as one just computed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bm7::scan {

enum class FileStatus { ok, error, skipped };

struct DetectionResult {
    double fileOffsetSeconds = 0.0;  // start of the run's audio within its own file
    double endOffsetSeconds = 0.0;   // end of the run's audio, clamped to the file
    std::string beginDateTime;       // ISO 8601 with milliseconds and offset, or empty
    double songRatio = 0.0;          // NaN when no ratio was defined over the run
    double peakLevelDb = 0.0;
    std::string clip;  // clip file relative to the output folder, or empty
};

struct FileResult {
    std::string file;       // path relative to its PATH argument; a file given directly: its name
    std::string beginPath;  // the PATH argument as given joined with `file`
    FileStatus status = FileStatus::ok;
    double durationSeconds = 0.0;
    int sampleRate = 0;
    int channels = 0;
    std::string startTime;   // the recording's start, ISO 8601, or empty
    std::string timeSource;  // "guano", "comment", "name" or empty
    std::string message;     // why a file failed or was skipped, or a warning
    // An error that may pass (clips that found no room): the recording is not journaled
    // as finished, so the next run analyses it again.
    bool redoNextRun = false;
    std::vector<DetectionResult> detections;
};

}  // namespace bm7::scan
