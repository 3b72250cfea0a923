// A bar chart as inline SVG: bars over labelled categories, a count axis with round
// ticks and grid lines, and axis titles. Each bar carries its count in data-count and a
// tooltip, so readers and tests can take the numbers from the page.
#pragma once

#include <string>
#include <vector>

#include "report/chart_data.h"

namespace bm7::report {

struct ChartText {
    std::string id;  // the svg element's id
    std::string title;
    std::string categoryAxis;
    std::string countAxis;
};

std::string barChartSvg(const ChartText& text, const std::vector<Bar>& bars);

}  // namespace bm7::report
