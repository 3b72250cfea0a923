#include "report/bar_chart.h"

#include <algorithm>
#include <cmath>

#include "report/html_text.h"

namespace bm7::report {

namespace {

constexpr double kWidth = 640;
constexpr double kHeight = 240;
constexpr double kLeft = 56;
constexpr double kRight = 12;
constexpr double kTop = 28;
constexpr double kBottom = 52;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;
// More labels than this under the axis would overlap.
constexpr std::size_t kMaxCategoryLabels = 12;

std::string number(double value) {
    return fixed(value, 1);
}

void text(std::string& svg, double x, double y, const char* anchor, std::string_view content,
          const std::string& extra = "") {
    svg += "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\" text-anchor=\"" + anchor + "\"" +
           extra + ">";
    appendEscaped(svg, content);
    svg += "</text>";
}

void line(std::string& svg, double x1, double y1, double x2, double y2, const char* cssClass) {
    svg += "<line class=\"" + std::string(cssClass) + "\" x1=\"" + number(x1) + "\" y1=\"" +
           number(y1) + "\" x2=\"" + number(x2) + "\" y2=\"" + number(y2) + "\"/>";
}

// A round tick step (1, 2 or 5 times a power of ten) giving at most five ticks up to
// `largest`.
long long countStep(long long largest) {
    for (long long power = 1;; power *= 10)
        for (const long long factor : {1LL, 2LL, 5LL})
            if (largest <= 5 * factor * power) return factor * power;
}

void countAxis(std::string& svg, long long top, long long step, double scale) {
    for (long long tick = 0; tick <= top; tick += step) {
        const double y = kTop + kPlotHeight - static_cast<double>(tick) * scale;
        line(svg, kLeft, y, kLeft + kPlotWidth, y, "grid");
        line(svg, kLeft - 4, y, kLeft, y, "axis");
        text(svg, kLeft - 7, y + 4, "end", std::to_string(tick));
    }
    line(svg, kLeft, kTop, kLeft, kTop + kPlotHeight, "axis");
}

}  // namespace

std::string barChartSvg(const ChartText& chart, const std::vector<Bar>& bars) {
    long long largest = 1;
    for (const Bar& bar : bars) largest = std::max(largest, bar.count);
    const long long step = countStep(largest);
    const long long top = (largest + step - 1) / step * step;
    const double scale = kPlotHeight / static_cast<double>(top);

    std::string svg = "<svg id=\"" + escapeHtml(chart.id) +
                      "\" class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                      number(kWidth) + " " + number(kHeight) + "\" role=\"img\">";
    text(svg, kWidth / 2, 18, "middle", chart.title, " class=\"title\"");
    countAxis(svg, top, step, scale);

    const double slot = bars.empty() ? kPlotWidth : kPlotWidth / static_cast<double>(bars.size());
    const std::size_t labelEvery = (bars.size() + kMaxCategoryLabels - 1) / kMaxCategoryLabels;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        const double x = kLeft + slot * static_cast<double>(i);
        const double height = static_cast<double>(bar.count) * scale;
        svg += "<rect class=\"bar\" data-count=\"" + std::to_string(bar.count) + "\" x=\"" +
               number(x + slot * 0.1) + "\" y=\"" + number(kTop + kPlotHeight - height) +
               "\" width=\"" + number(slot * 0.8) + "\" height=\"" + number(height) + "\"><title>";
        appendEscaped(svg, bar.detail + ": " + std::to_string(bar.count));
        svg += "</title></rect>";
        if (i % labelEvery == 0) {
            const double centre = x + slot / 2;
            line(svg, centre, kTop + kPlotHeight, centre, kTop + kPlotHeight + 4, "axis");
            text(svg, centre, kTop + kPlotHeight + 17, "middle", bar.label);
        }
    }
    line(svg, kLeft, kTop + kPlotHeight, kLeft + kPlotWidth, kTop + kPlotHeight, "axis");
    text(svg, kLeft + kPlotWidth / 2, kHeight - 10, "middle", chart.categoryAxis,
         " class=\"label\"");
    text(svg, 14, kTop + kPlotHeight / 2, "middle", chart.countAxis,
         " class=\"label\" transform=\"rotate(-90 14 " + number(kTop + kPlotHeight / 2) + ")\"");
    return svg + "</svg>";
}

}  // namespace bm7::report
