// What a review report is made from: a summary of the scan and one record per
// detection, as the scan or a live run's detection table gives them, plus the names of
// the media files the report keeps beside its pages.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bm7::report {

struct FileProblem {
    std::string file;
    std::string message;
};

struct ScanSummary {
    std::vector<std::string> scannedPaths;
    long long fileCount = 0;
    double audioHours = 0.0;
    long long detectionCount = 0;
    std::vector<FileProblem> filesWithErrors;
    std::string programVersion = BM7_VERSION;
    std::string scanDate;  // as the user should read it, e.g. "2026-05-12 04:31 UTC"
};

struct Detection {
    std::string file;       // relative to the scanned path
    std::string beginPath;  // the path as given, joined with `file`
    double fileOffsetS = 0.0;
    double endS = 0.0;  // end within the same file, so endS - fileOffsetS is its length
    // ISO 8601 with milliseconds and UTC offset in the recording's own zone; empty
    // when the recording's start time is unknown.
    std::string beginDateTime;
    double songRatio = 0.0;
    double peakLevelDb = 0.0;
    // Both relative to the report folder (so a clip under the output folder is
    // "../clips/..."); empty when there is none.
    std::string imageFile;
    std::string audioFile;
};

// Where the report keeps the media of detection `index` (0, 1, ...) of recording
// `file`: a path without extension, relative to the report folder, under "media/" in
// folders that mirror the recordings', as the clips do. It depends on nothing but the
// recording and the detection, so a scan resumed or run again over other files keeps
// every image with its detection. Components ".." and "." are neutralised.
std::string detectionMediaStem(const std::string& file, std::size_t index);

// Whether browsers play the audio file `path` (WAVE, by its extension, in any case);
// for AIFF and the raw clip formats the report writes a WAVE file of its own.
bool browsersPlay(const std::string& path);

// The time now, as the summary's date of the scan: "2026-05-12 04:31 UTC".
std::string utcNow();

}  // namespace bm7::report
