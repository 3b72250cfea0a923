#include "scan/scan_report.h"

#include <cmath>
#include <filesystem>
#include <limits>

#include "audio/audio_file_reader.h"
#include "report/report_pages.h"
#include "report/spectrogram.h"

namespace bm7::scan {

namespace {

namespace fs = std::filesystem;

constexpr double kRate = report::kSpectrogramSampleRate;
const std::int64_t kMarginSamples = std::llround(report::kMarginSeconds * kRate);

// The table keeps positions as seconds of the 22050 Hz stream; they convert back exactly.
std::int64_t samplesAt(double seconds) {
    return std::llround(seconds * kRate);
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

report::ScanSummary summaryOf(const std::vector<std::string>& paths,
                              const std::vector<FileResult>& results) {
    report::ScanSummary summary;
    summary.scannedPaths = paths;
    summary.fileCount = static_cast<long long>(results.size());
    summary.scanDate = report::utcNow();
    double seconds = 0.0;
    for (const FileResult& result : results) {
        seconds += result.durationSeconds;
        summary.detectionCount += static_cast<long long>(result.detections.size());
        if (result.status == FileStatus::error)
            summary.filesWithErrors.push_back({result.file, result.message});
    }
    summary.audioHours = seconds / 3600.0;
    return summary;
}

report::Detection detectionOf(const std::string& reportFolder, const FileResult& result,
                              std::size_t index) {
    const DetectionResult& row = result.detections[index];
    report::Detection detection;
    detection.file = result.file;
    detection.beginPath = result.beginPath;
    detection.fileOffsetS = row.fileOffsetSeconds;
    detection.endS = row.endOffsetSeconds;
    detection.beginDateTime = row.beginDateTime;
    detection.songRatio = row.songRatio;
    detection.peakLevelDb = row.peakLevelDb;
    const std::string stem = report::detectionMediaStem(result.file, index);
    if (exists(reportFolder + "/" + stem + ".png")) detection.imageFile = stem + ".png";
    if (!row.clip.empty() && report::browsersPlay(row.clip)) {
        detection.audioFile = "../" + row.clip;
    } else if (exists(reportFolder + "/" + stem + ".wav")) {
        detection.audioFile = stem + ".wav";
    }
    return detection;
}

}  // namespace

std::string reportFolderOf(const std::string& outputFolder) {
    return (fs::path(outputFolder) / "report").string();
}

bool hasReportMedia(const std::string& outputFolder, const FileResult& result) {
    const std::string folder = reportFolderOf(outputFolder);
    for (std::size_t index = 0; index < result.detections.size(); ++index)
        if (!exists(folder + "/" + report::detectionMediaStem(result.file, index) + ".png"))
            return false;
    return true;
}

bool makeReportMedia(const FoundRecording& recording, int channel, const FileResult& result,
                     report::RecordingMediaMaker& maker, std::string& problem) {
    if (result.detections.empty()) return true;
    AudioFileReader reader;
    if (!reader.open(recording.path, channel, kRate, problem)) return false;
    maker.startRecording();
    std::int16_t chunk[8192];
    double samples[8192];
    std::int64_t read = 0;
    bool ended = false;
    bool allMade = true;
    for (std::size_t index = 0; index < result.detections.size();) {
        const DetectionResult& row = result.detections[index];
        const std::int64_t end = samplesAt(row.endOffsetSeconds);
        if (ended || read >= end + kMarginSamples) {
            report::Detection made;
            std::string why;
            const std::int64_t length = ended ? read : std::numeric_limits<std::int64_t>::max();
            if (!maker.make(report::detectionMediaStem(result.file, index),
                            samplesAt(row.fileOffsetSeconds), end, length,
                            !report::browsersPlay(row.clip), made, why)) {
                problem = why;
                allMade = false;
            }
            ++index;
            continue;
        }
        const std::size_t count = reader.read(chunk, std::size(chunk));
        for (std::size_t i = 0; i < count; ++i) samples[i] = chunk[i] / 32768.0;
        maker.append(samples, count);
        read += static_cast<std::int64_t>(count);
        ended = count < std::size(chunk);
    }
    return allMade;
}

bool writeScanReport(const std::string& outputFolder, const std::vector<std::string>& paths,
                     const std::vector<FileResult>& results, std::string& problem) {
    const std::string folder = reportFolderOf(outputFolder);
    std::vector<report::Detection> detections;
    for (const FileResult& result : results)
        for (std::size_t index = 0; index < result.detections.size(); ++index)
            detections.push_back(detectionOf(folder, result, index));
    return report::writeReportPages(folder, summaryOf(paths, results), detections, problem);
}

}  // namespace bm7::scan
