// The parts of a report page as HTML text: the summary of what was scanned, the four
// charts, and the detections table. Every text that comes from the data is escaped.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "report/report_data.h"

namespace bm7::report {

std::string summarySection(const ScanSummary& summary);
std::string chartsSection(const std::vector<Detection>& detections);

struct RankedDetection {
    const Detection* detection;
    std::size_t rank;  // 1 for the best Song Ratio
};
std::string detectionTable(const std::vector<RankedDetection>& rows);

}  // namespace bm7::report
