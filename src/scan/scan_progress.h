// What a user sees of a running scan on the error stream: on a terminal one progress
// line rewritten in place (files, hours of audio, detections, speed, time left); in a
// pipe or a log one line per finished recording; with --quiet neither. Problems are
// printed in every mode. Workers report from their threads; the main thread redraws.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "scan/scan_result.h"

namespace bm7::scan {

enum class ProgressMode { terminal, lines, quiet };

struct ScanTotals {
    int files = 0;     // in this scan (or shard)
    int done = 0;      // finished, in this run or an earlier one
    int analysed = 0;  // finished in this run
    int ok = 0;
    int skipped = 0;
    int errors = 0;
    long detections = 0;
    double audioSeconds = 0.0;          // of every finished recording
    double analysedAudioSeconds = 0.0;  // of those analysed in this run
};

class ScanProgress {
public:
    ScanProgress(std::FILE* stream, ProgressMode mode, int files);

    // A recording finished in an earlier run, taken from the journal.
    void resumed(const FileResult& result);
    // A recording analysed in this run.
    void finished(const FileResult& result);
    // A message that every mode shows, on its own line.
    void problem(const std::string& text);
    // Redraws the terminal line.
    void tick();
    // Leaves the terminal line for good.
    void end();

    ScanTotals totals() const;
    double elapsedSeconds() const;

private:
    void count(const FileResult& result);
    void clearLine();
    void drawLine();
    void reportFailure(const FileResult& result);

    std::FILE* stream_;
    ProgressMode mode_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    mutable std::mutex lock_;
    ScanTotals totals_;
    bool lineShown_ = false;
};

// The summary printed at the end: files ok and with errors, hours of audio, detections,
// wall time and speed as a multiple of real time.
void printSummary(std::FILE* out, const ScanTotals& totals, double wallSeconds);

}  // namespace bm7::scan
