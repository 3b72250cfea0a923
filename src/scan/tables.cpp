#include "scan/tables.h"

#include <cmath>

#include "files/atomic_file.h"
#include "files/csv.h"
#include "files/number_text.h"

namespace bm7::scan {

namespace {

constexpr int kSecondsDecimals = 6;
constexpr int kRatioDecimals = 4;
constexpr int kLevelDecimals = 2;

std::string seconds(double value) {
    return fixedDecimals(value, kSecondsDecimals);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string countUnlessUnknown(int value) {
    return value == 0 ? "" : std::to_string(value);
}

double placedDuration(const FileResult& file) {
    return std::isfinite(file.durationSeconds) && file.durationSeconds > 0.0 ? file.durationSeconds
                                                                             : 0.0;
}

// Both detection tables end with these columns, in this order.
std::vector<std::string> withDateScoresAndClip(std::vector<std::string> fields,
                                               const DetectionResult& detection) {
    fields.insert(fields.end(),
                  {detection.beginDateTime, fixedDecimals(detection.songRatio, kRatioDecimals),
                   fixedDecimals(detection.peakLevelDb, kLevelDecimals), detection.clip});
    return fields;
}

// Sound viewers open the recording by its Begin Path, so it keeps its bytes.
constexpr std::size_t kBeginPathColumn = 8;

}  // namespace

std::string_view statusName(FileStatus status) {
    switch (status) {
    case FileStatus::ok:
        return "ok";
    case FileStatus::error:
        return "error";
    case FileStatus::skipped:
        return "skipped";
    }
    return "error";
}

std::string selectionTableText(const std::vector<FileResult>& results) {
    std::string text =
        tabLine({"Selection", "View", "Channel", "Begin Time (s)", "End Time (s)", "Low Freq (Hz)",
                 "High Freq (Hz)", "Begin File", "Begin Path", "File Offset (s)", "Begin Date Time",
                 "Song Ratio", "Peak Level (dB)", "Clip"});
    long selection = 0;
    double filesBefore = 0.0;
    for (const FileResult& file : results) {
        for (const DetectionResult& detection : file.detections) {
            text += tabLine(
                withDateScoresAndClip(
                    {std::to_string(++selection), "Spectrogram 1", "1",
                     seconds(filesBefore + detection.fileOffsetSeconds),
                     seconds(filesBefore + detection.endOffsetSeconds), "4006.5", "5489.6",
                     baseName(file.file), file.beginPath, seconds(detection.fileOffsetSeconds)},
                    detection),
                {kBeginPathColumn});
        }
        filesBefore += placedDuration(file);
    }
    return text;
}

std::string detectionsCsvText(const std::vector<FileResult>& results) {
    std::string text = csvLine(
        {"file", "start_s", "end_s", "begin_date_time", "song_ratio", "peak_level_db", "clip"});
    for (const FileResult& file : results) {
        for (const DetectionResult& detection : file.detections) {
            text += csvLine(withDateScoresAndClip({file.file, seconds(detection.fileOffsetSeconds),
                                                   seconds(detection.endOffsetSeconds)},
                                                  detection));
        }
    }
    return text;
}

std::string filesCsvText(const std::vector<FileResult>& results) {
    std::string text = csvLine({"file", "status", "duration_s", "sample_rate", "channels",
                                "detections", "start_time", "time_source", "message"});
    for (const FileResult& file : results) {
        const bool formatKnown = file.sampleRate != 0;
        text += csvLine({file.file, std::string(statusName(file.status)),
                         formatKnown ? seconds(file.durationSeconds) : "",
                         countUnlessUnknown(file.sampleRate), countUnlessUnknown(file.channels),
                         std::to_string(file.detections.size()), file.startTime, file.timeSource,
                         file.message});
    }
    return text;
}

bool writeTables(const std::string& outputFolder, const std::vector<FileResult>& results,
                 std::string& problem) {
    const std::string folder = outputFolder.empty() ? "./" : outputFolder + "/";
    return writeFileAtomically(folder + std::string(kSelectionTableName),
                               selectionTableText(results), problem) &&
           writeFileAtomically(folder + std::string(kDetectionsCsvName), detectionsCsvText(results),
                               problem) &&
           writeFileAtomically(folder + std::string(kFilesCsvName), filesCsvText(results), problem);
}

}  // namespace bm7::scan
