// One recording of a scan: its format and start time, then its samples streamed through
// a fresh detector model exactly as `--input` streams them (same reader, resampling,
// channel and trailing silence), so its detections are the clips `--input` would save.
// Each call owns its model, so any number may run at once, one per thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "scan/scan_result.h"
#include "scan/start_time.h"
#include "scan/walker.h"

namespace bm7::scan {

struct AnalysisSettings {
    int channel = 0;  // from 1; 0: the first
    // Where this recording's clips go, and that folder relative to the output folder;
    // empty: no clips.
    std::string clipFolder;
    std::string clipFolderRelative;
    int clipFormat = 1;
    std::string prefix = "Dick";
    // Clips are refused while their file system has no more free than the larger of
    // these; by default a scan writes until the disk is full.
    std::uint64_t minFreeBytes = 0;
    double minFreePercent = 0.0;
    const TimeZone* zone = nullptr;       // of times without an offset; null: UTC
    const TimeZone* stampZone = nullptr;  // of clip stamps; null: UTC
};

// Analyses the recording. A file that cannot be read is an error, one that cannot serve
// is skipped, both with the reason in the message. A recording whose clips were not all
// saved is an error to redo, with its detections kept. When `cancel` becomes true the
// analysis stops within a model step and returns false: the result is then partial and
// must not be kept.
bool analyseRecording(const FoundRecording& recording, const AnalysisSettings& settings,
                      const std::atomic<bool>& cancel, FileResult& result);

}  // namespace bm7::scan
