// The counts behind the report's charts: detections per hour of the day and per day,
// read from the date-time text as written (the recordings' own zone), and histograms of
// the scores over round-numbered bins.
#pragma once

#include <string>
#include <vector>

#include "report/report_data.h"

namespace bm7::report {

struct Bar {
    std::string label;   // under the axis
    std::string detail;  // in the bar's tooltip
    long long count = 0;
};

struct Activity {
    std::vector<Bar> byHour;  // always 24 bars, 0 to 23
    std::vector<Bar> byDay;   // every day from the first to the last, or only those with detections
                              // over long spans
    long long undated = 0;    // detections whose date-time is empty or unreadable
};

Activity countActivity(const std::vector<Detection>& detections);

struct Histogram {
    std::vector<Bar> bins;
    long long notCounted = 0;  // NaN and infinite values
};

// Bins of a round width (1, 2, 2.5 or 5 times a power of ten) giving about
// `targetBins` bins over the values' range; labels are the bins' lower edges.
Histogram histogram(const std::vector<double>& values, int targetBins);

// "2026-05-12T04:31:07.250-05:00" gives day "2026-05-12" and hour 4; false for text in
// any other form.
bool dayAndHour(const std::string& dateTime, std::string& day, int& hour);

}  // namespace bm7::report
