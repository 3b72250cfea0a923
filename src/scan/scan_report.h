// The scan's review report (--report): each worker makes the media of the recordings it
// analysed, and the pages are written once the tables are. The media are named after
// each recording and detection alone, so resumed recordings keep theirs and a page
// shows what is on disk.
#pragma once

#include <string>
#include <vector>

#include "report/recording_media.h"
#include "scan/scan_result.h"
#include "scan/walker.h"

namespace bm7::scan {

std::string reportFolderOf(const std::string& outputFolder);

// Whether every detection of `result` has its spectrogram in the report folder.
bool hasReportMedia(const std::string& outputFolder, const FileResult& result);

// Streams the recording again, as its analysis read it (same reader, channel and
// rate), and makes each detection's spectrogram and, where it has no clip browsers
// play, its WAVE file. On failure `problem` says why; the media made so far stay.
bool makeReportMedia(const FoundRecording& recording, int channel, const FileResult& result,
                     report::RecordingMediaMaker& maker, std::string& problem);

// Writes the pages from the finished results, in scan order.
bool writeScanReport(const std::string& outputFolder, const std::vector<std::string>& paths,
                     const std::vector<FileResult>& results, std::string& problem);

}  // namespace bm7::scan
