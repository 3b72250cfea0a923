// The scan's three tables, built from the results in scan order and each written whole
// (or not at all) into the output folder: a selection table for Raven-style viewers, a
// CSV of detections and a CSV of every file found. Times are seconds with 6 decimals;
// numbers that are not finite, and a file's format when it was never learned (sample
// rate 0), are empty fields. `Begin Time (s)` places the files end to end in scan order:
// it adds every earlier file's `durationSeconds` whatever its status, so it is the
// running sum of the files.csv `duration_s` column (0 for a file never read).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scan/scan_result.h"

namespace bm7::scan {

inline constexpr std::string_view kSelectionTableName = "detections.selections.txt";
inline constexpr std::string_view kDetectionsCsvName = "detections.csv";
inline constexpr std::string_view kFilesCsvName = "files.csv";

// "ok", "error" or "skipped", as files.csv and the journal write it.
std::string_view statusName(FileStatus status);

std::string selectionTableText(const std::vector<FileResult>& results);
std::string detectionsCsvText(const std::vector<FileResult>& results);
std::string filesCsvText(const std::vector<FileResult>& results);

// Writes the three tables into `outputFolder`, which must exist. On failure `problem`
// names the file and gives the system's reason; tables already written stay.
bool writeTables(const std::string& outputFolder, const std::vector<FileResult>& results,
                 std::string& problem);

}  // namespace bm7::scan
