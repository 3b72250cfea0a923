#include "scan/scan_progress.h"

#include "scan/tables.h"

namespace bm7::scan {

namespace {

constexpr double kSecondsPerHour = 3600.0;

std::string clockText(double seconds) {
    const long whole = seconds > 0.0 ? static_cast<long>(seconds + 0.5) : 0;
    char text[48];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

double speedOf(double audioSeconds, double wallSeconds) {
    return wallSeconds > 0.0 ? audioSeconds / wallSeconds : 0.0;
}

}  // namespace

ScanProgress::ScanProgress(std::FILE* stream, ProgressMode mode, int files)
    : stream_(stream), mode_(mode) {
    totals_.files = files;
}

void ScanProgress::count(const FileResult& result) {
    ++totals_.done;
    totals_.audioSeconds += result.durationSeconds;
    totals_.detections += static_cast<long>(result.detections.size());
    switch (result.status) {
    case FileStatus::ok:
        ++totals_.ok;
        break;
    case FileStatus::skipped:
        ++totals_.skipped;
        break;
    case FileStatus::error:
        ++totals_.errors;
        break;
    }
}

void ScanProgress::resumed(const FileResult& result) {
    const std::lock_guard<std::mutex> hold(lock_);
    count(result);
    reportFailure(result);
}

void ScanProgress::finished(const FileResult& result) {
    const std::lock_guard<std::mutex> hold(lock_);
    count(result);
    ++totals_.analysed;
    totals_.analysedAudioSeconds += result.durationSeconds;
    if (mode_ != ProgressMode::lines) {
        reportFailure(result);
        if (mode_ == ProgressMode::terminal) drawLine();
        return;
    }
    const std::string status(statusName(result.status));
    if (result.status == FileStatus::ok) {
        std::fprintf(stream_, "[%d/%d] %s: ok, %zu detection%s, %.1f s of audio\n", totals_.done,
                     totals_.files, result.beginPath.c_str(), result.detections.size(),
                     result.detections.size() == 1 ? "" : "s", result.durationSeconds);
    } else {
        std::fprintf(stream_, "[%d/%d] %s: %s: %s\n", totals_.done, totals_.files,
                     result.beginPath.c_str(), status.c_str(), result.message.c_str());
    }
    std::fflush(stream_);
}

// Errors and skipped recordings are named on the error stream as well as in files.csv.
void ScanProgress::reportFailure(const FileResult& result) {
    if (result.status == FileStatus::ok) return;
    clearLine();
    std::fprintf(stream_, "%s: %s: %s\n", result.beginPath.c_str(),
                 std::string(statusName(result.status)).c_str(), result.message.c_str());
    std::fflush(stream_);
}

void ScanProgress::problem(const std::string& text) {
    const std::lock_guard<std::mutex> hold(lock_);
    clearLine();
    std::fprintf(stream_, "%s\n", text.c_str());
    std::fflush(stream_);
}

void ScanProgress::tick() {
    const std::lock_guard<std::mutex> hold(lock_);
    if (mode_ == ProgressMode::terminal) drawLine();
}

void ScanProgress::end() {
    const std::lock_guard<std::mutex> hold(lock_);
    if (mode_ == ProgressMode::terminal && lineShown_) drawLine();
    if (lineShown_) std::fputc('\n', stream_);
    lineShown_ = false;
}

void ScanProgress::clearLine() {
    if (!lineShown_) return;
    std::fputs("\r\033[K", stream_);
    lineShown_ = false;
}

void ScanProgress::drawLine() {
    const double elapsed = elapsedSeconds();
    const int toAnalyse = totals_.files - (totals_.done - totals_.analysed);
    std::string left = "?";
    if (totals_.analysed > 0) {
        const double perFile = elapsed / totals_.analysed;
        left = clockText(perFile * (toAnalyse - totals_.analysed));
    }
    std::fprintf(stream_,
                 "\r\033[K%d/%d files, %.2f h of audio, %ld detections, %.1fx real time, %s left",
                 totals_.done, totals_.files, totals_.audioSeconds / kSecondsPerHour,
                 totals_.detections, speedOf(totals_.analysedAudioSeconds, elapsed), left.c_str());
    std::fflush(stream_);
    lineShown_ = true;
}

ScanTotals ScanProgress::totals() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return totals_;
}

double ScanProgress::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

void printSummary(std::FILE* out, const ScanTotals& totals, double wallSeconds) {
    std::fprintf(out, "Files: %d ok, %d with errors, %d skipped (%d of %d finished", totals.ok,
                 totals.errors, totals.skipped, totals.done, totals.files);
    if (totals.done > totals.analysed) {
        std::fprintf(out, ", %d by an earlier scan", totals.done - totals.analysed);
    }
    std::fputs(")\n", out);
    std::fprintf(out, "Audio: %.3f hours, %ld detections\n", totals.audioSeconds / kSecondsPerHour,
                 totals.detections);
    std::fprintf(out, "Time: %.1f s wall, %.1fx real time\n", wallSeconds,
                 speedOf(totals.analysedAudioSeconds, wallSeconds));
}

}  // namespace bm7::scan
