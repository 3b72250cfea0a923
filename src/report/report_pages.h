// Writes a review report: index.html, then index-2.html, index-3.html ... for more than
// kRowsPerPage detections, best Song Ratio first, each page linked to every other. Each
// page carries the summary, the charts over all detections, and its share of the table.
// The media the rows name must already be in place: they are synced to disk before the
// pages, and pages are written whole or not at all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "report/report_data.h"

namespace bm7::report {

inline constexpr std::size_t kRowsPerPage = 500;

// "index.html" for page 1, "index-N.html" for page N.
std::string pageFileName(std::size_t page);

// Creates `reportFolder` (and its parents) if missing. On failure `problem` says why.
bool writeReportPages(const std::string& reportFolder, const ScanSummary& summary,
                      const std::vector<Detection>& detections, std::string& problem);

}  // namespace bm7::report
