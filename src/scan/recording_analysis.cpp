#include "scan/recording_analysis.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "audio/audio_file_reader.h"
#include "audio/file_capture.h"
#include "driver/run.h"
#include "driver/timing.h"
#include "model/detector_model.h"

namespace bm7::scan {

namespace {

constexpr double kModelRate = detector::kSampleRate;
// Enough for the runs of most recordings, so that the list rarely grows during a step.
constexpr std::size_t kExpectedRuns = 256;

const TimeZone kUtc;

// Keeps each finished run as the model reports it; the rows are made after the run.
class RunCollector final : public detector::DetectionListener {
public:
    struct Run {
        std::int64_t gateBegin;
        std::int64_t gateEnd;
        double songRatio;
        double peakEnergy;
        std::string clip;
    };

    RunCollector(const RecordingStart& start, const TimeZone* stampZone)
        : start_(start), stampZone_(stampZone) {
        runs.reserve(kExpectedRuns);
    }

    void detected(const detector::Detection& d) override {
        runs.push_back({d.gateBegin, d.gateEnd, d.songRatio, d.peakEnergy, d.clipName});
    }

    // A clip is named after the recording's own date-time of its first sample, when the
    // recording says when it began; else the model keeps its stream stamp.
    std::string clipStamp(std::int64_t firstAudioSample) override {
        if (start_.source == TimeSource::none) return {};
        const double offset = static_cast<double>(std::max<std::int64_t>(firstAudioSample, 0));
        return formatClipStamp(start_, offset / kModelRate, stampZone_);
    }

    // The scan reports its own progress; the monitor's clip lines would only clutter it.
    bool announceClips() const override { return false; }

    std::vector<Run> runs;

private:
    const RecordingStart& start_;
    const TimeZone* stampZone_;
};

// Both notes of a message cell, the weightier first.
std::string joined(const std::string& first, const std::string& second) {
    if (first.empty() || second.empty()) return first + second;
    return first + "; " + second;
}

// Opens the recording to learn its format and start time. False, with the status and
// message set, when it cannot be analysed.
bool describe(const FoundRecording& recording, const AnalysisSettings& settings,
              const TimeZone& zone, FileResult& result, RecordingStart& start) {
    AudioFileReader reader;
    std::string problem;
    const bool opened = reader.open(recording.path, settings.channel, kModelRate, problem);
    result.sampleRate = reader.fileSampleRate();
    result.channels = reader.fileChannels();
    // A file refused as unsuitable (its rate, its channels) is read again for its
    // metadata, which may still say when it began. An unreadable one is not: a damaged
    // file may be what makes libsndfile spin.
    const bool unsuitable = reader.failure() == AudioFileFailure::unsuitable;
    SF_INFO info{};
    SNDFILE* metadata = opened       ? reader.handle()
                        : unsuitable ? sf_open(recording.path.c_str(), SFM_READ, &info)
                                     : nullptr;
    start = readRecordingStart(metadata, recording.path, zone);
    if (!opened && metadata != nullptr) sf_close(metadata);
    result.startTime = formatDateTime(start, 0.0, zone);
    result.timeSource = std::string(timeSourceName(start.source));
    if (opened) return true;
    result.status = unsuitable ? FileStatus::skipped : FileStatus::error;
    result.message = joined(problem, start.ignored);
    if (unsuitable && result.sampleRate > 0) {
        result.durationSeconds = static_cast<double>(reader.fileFrames()) / result.sampleRate;
    }
    return false;
}

detector::ModelSettings modelSettings(const AnalysisSettings& settings) {
    detector::ModelSettings model;
    // A scan keeps no level log and stops by its own signals, not by a file.
    model.files.clipDirectory = settings.clipFolder;
    model.files.logFile.clear();
    model.files.stopFile.clear();
    model.files.clipFormat = settings.clipFormat;
    model.files.clipPrefix = settings.prefix;
    model.files.minFreeBytes = settings.minFreeBytes;
    model.files.minFreePercent = settings.minFreePercent;
    // A refused clip is told in the recording's row, not once per model on the error stream.
    model.fileWarnings = nullptr;
    return model;
}

// Steps the model to the end of the stream as the program's driver does, or until
// cancelled. Returns the model's error, or empty.
std::string stepToEnd(detector::DetectorModel& model, const std::atomic<bool>& cancel) {
    Driver driver(model);
    // Nothing is logged, so the step's logging has nothing to do.
    driver.logUpdate = [](BlockRecord&) -> const char* { return nullptr; };
    driver.root = model.registerModel();
    model.declareModelSizes();
    model.declareModelSampleTimes();
    BlockRecord& root = *driver.root;
    if (const char* message = initializeTiming(root, driver.timing)) return message;
    model.start();
    const SimInfo& sim = *root.simInfo;
    while (root.errorStatus == nullptr && driver.stopFlag == 0 && sim.stopRequested == 0 &&
           !cancel.load(std::memory_order_relaxed)) {
        oneStep(driver);
    }
    std::string failure = root.errorStatus != nullptr ? root.errorStatus : "";
    // Always, so that the audio source stops and the blocks release what they hold.
    model.terminate();
    return failure;
}

DetectionResult rowOf(const RunCollector::Run& run, const FileResult& file,
                      const RecordingStart& start, const TimeZone& zone,
                      const AnalysisSettings& settings) {
    DetectionResult row;
    const auto audioBegin = std::max<std::int64_t>(run.gateBegin - detector::kClipAudioDelay, 0);
    const std::int64_t audioEnd = run.gateEnd - detector::kClipAudioDelay;
    row.fileOffsetSeconds = static_cast<double>(audioBegin) / kModelRate;
    row.endOffsetSeconds =
        std::min(file.durationSeconds, static_cast<double>(audioEnd) / kModelRate);
    row.beginDateTime = formatDateTime(start, row.fileOffsetSeconds, zone);
    row.songRatio = run.songRatio;
    row.peakLevelDb = 10.0 * std::log10(run.peakEnergy);
    if (!run.clip.empty()) {
        row.clip =
            settings.clipFolderRelative + "/" + std::filesystem::path(run.clip).filename().string();
    }
    return row;
}

// "3 of 5 clips not saved: <why>" when clips were due and some were not saved.
std::string missingClips(const std::vector<RunCollector::Run>& runs, const FileGuard& guard) {
    const auto missing =
        std::count_if(runs.begin(), runs.end(), [](const auto& run) { return run.clip.empty(); });
    if (missing == 0) return {};
    const std::string why = guard.lastRefusal().empty() ? "no reason given" : guard.lastRefusal();
    return std::to_string(missing) + " of " + std::to_string(runs.size()) +
           " clips not saved: " + why;
}

// Removes the recording's clip folder when it holds no clip; a cancelled analysis has no
// rows, so its clips go with it.
void tidyClipFolder(const std::string& folder, bool cancelled) {
    if (folder.empty()) return;
    std::error_code notEmpty;
    if (cancelled) std::filesystem::remove_all(folder, notEmpty);
    std::filesystem::remove(folder, notEmpty);
}

// The verdict on a finished run: the model's failure, else clips that found no room (an
// error that may pass, so the next run redoes it), else the reader's warning; then any
// start time that was ignored.
void judgeRun(const std::string& failure, const std::string& clipProblem,
              const std::string& warning, const RecordingStart& start, FileResult& result) {
    result.message = warning;
    if (!failure.empty() || !clipProblem.empty()) {
        result.status = FileStatus::error;
        result.message = failure.empty() ? clipProblem : failure;
        result.redoNextRun = failure.empty();
    }
    result.message = joined(result.message, start.ignored);
}

}  // namespace

bool analyseRecording(const FoundRecording& recording, const AnalysisSettings& settings,
                      const std::atomic<bool>& cancel, FileResult& result) {
    const TimeZone& zone = settings.zone != nullptr ? *settings.zone : kUtc;
    result = FileResult{};
    result.file = recording.file;
    result.beginPath = recording.path;
    RecordingStart start;
    if (!describe(recording, settings, zone, result, start)) return true;

    RunCollector collector(start, settings.stampZone);
    // The model outlives its audio source, whose worker fills the model's buffers.
    detector::DetectorModel model(modelSettings(settings));
    FileCapture capture(recording.path, settings.channel, false);
    capture.setWarningStream(nullptr);
    model.setCaptureLayer(&capture);
    model.setDetectionListener(&collector);
    const std::string failure = stepToEnd(model, cancel);
    tidyClipFolder(settings.clipFolder, cancel.load());
    if (cancel.load()) return false;

    result.durationSeconds =
        static_cast<double>(capture.reader().framesRead()) / capture.reader().fileSampleRate();
    const std::string clipProblem = settings.clipFolder.empty()
                                        ? std::string()
                                        : missingClips(collector.runs, model.fileGuard());
    judgeRun(failure, clipProblem, capture.reader().warning(), start, result);
    for (const RunCollector::Run& run : collector.runs) {
        result.detections.push_back(rowOf(run, result, start, zone, settings));
    }
    return true;
}

}  // namespace bm7::scan
