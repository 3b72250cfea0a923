#include "report/report_sections.h"

#include "report/bar_chart.h"
#include "report/chart_data.h"
#include "report/html_text.h"

namespace bm7::report {

namespace {

// About this many bins keeps a histogram's shape readable at 640 pixels.
constexpr int kHistogramBins = 20;

void item(std::string& html, const char* term, const std::string& escapedValue) {
    html += "<dt>";
    html += term;
    html += "</dt><dd>" + escapedValue + "</dd>\n";
}

std::string errorList(const std::vector<FileProblem>& problems) {
    if (problems.empty()) return "none";
    std::string html = "<details><summary>" + std::to_string(problems.size()) + "</summary><ul>";
    for (const FileProblem& problem : problems)
        html += "<li>" + escapeHtml(problem.file) + ": " + escapeHtml(problem.message) + "</li>";
    return html + "</ul></details>";
}

std::string notCountedNote(long long count, const char* why) {
    if (count == 0) return {};
    return "<p class=\"note\">" + std::to_string(count) +
           (count == 1 ? " detection " : " detections ") + why +
           " not counted in these charts.</p>\n";
}

std::vector<double> scores(const std::vector<Detection>& detections, double Detection::*score) {
    std::vector<double> values;
    values.reserve(detections.size());
    for (const Detection& detection : detections) values.push_back(detection.*score);
    return values;
}

void cell(std::string& html, const std::string& sortKey, const std::string& content,
          const char* cssClass = nullptr) {
    html += "<td";
    if (cssClass) html += std::string(" class=\"") + cssClass + "\"";
    html += " data-sort=\"";
    appendEscaped(html, sortKey);
    html += "\">" + content + "</td>";
}

void numberCell(std::string& html, const std::string& value) {
    cell(html, value, value, "number");
}

void detectionRow(std::string& html, const Detection& detection, std::size_t rank) {
    const std::string rankText = std::to_string(rank);
    html += "<tr data-file=\"";
    appendEscaped(html, detection.file);
    html += "\">";
    numberCell(html, rankText);
    cell(html, detection.beginDateTime,
         detection.beginDateTime.empty() ? "&mdash;" : escapeHtml(detection.beginDateTime), "when");
    cell(html, detection.file,
         "<span title=\"" + escapeHtml(detection.beginPath) + "\">" + escapeHtml(detection.file) +
             "</span>");
    numberCell(html, fixed(detection.fileOffsetS, 3));
    numberCell(html, fixed(detection.endS - detection.fileOffsetS, 3));
    numberCell(html, fixed(detection.songRatio, 4));
    numberCell(html, fixed(detection.peakLevelDb, 2));
    std::string image = "no image";
    if (!detection.imageFile.empty()) {
        const std::string source = escapeHtml(urlPath(detection.imageFile));
        image = "<a href=\"" + source + "\"><img src=\"" + source +
                "\" alt=\"Spectrogram of detection " + rankText + "\"></a>";
    }
    cell(html, rankText, image);
    std::string audio = "no audio";
    if (!detection.audioFile.empty())
        audio = "<audio controls preload=\"metadata\" src=\"" +
                escapeHtml(urlPath(detection.audioFile)) + "\"></audio>";
    cell(html, rankText, audio);
    html += "</tr>\n";
}

}  // namespace

std::string summarySection(const ScanSummary& summary) {
    std::string paths;
    for (const std::string& path : summary.scannedPaths)
        paths += (paths.empty() ? "" : "<br>") + escapeHtml(path);
    std::string html = "<dl class=\"summary\">\n";
    item(html, "Scanned", paths.empty() ? "&mdash;" : paths);
    item(html, "Files", std::to_string(summary.fileCount));
    item(html, "Hours of audio", fixed(summary.audioHours, 2));
    item(html, "Detections", std::to_string(summary.detectionCount));
    item(html, "Files with errors", errorList(summary.filesWithErrors));
    item(html, "Program version", escapeHtml(summary.programVersion));
    item(html, "Scanned on", escapeHtml(summary.scanDate));
    return html + "</dl>\n";
}

std::string chartsSection(const std::vector<Detection>& detections) {
    const Activity activity = countActivity(detections);
    const Histogram ratios = histogram(scores(detections, &Detection::songRatio), kHistogramBins);
    const Histogram levels = histogram(scores(detections, &Detection::peakLevelDb), kHistogramBins);
    std::string html = "<h2>When and how strongly it fired</h2>\n";
    html += notCountedNote(activity.undated, "without a date-time are");
    html +=
        notCountedNote(ratios.notCounted + levels.notCounted, "scores that are not numbers are");
    html += "<div class=\"charts\">\n";
    html += barChartSvg({"by-hour", "Detections per hour of the day",
                         "Hour of the day (the recordings' time zone)", "Detections"},
                        activity.byHour) +
            "\n";
    html +=
        barChartSvg({"by-day", "Detections per day", "Day", "Detections"}, activity.byDay) + "\n";
    html += barChartSvg({"song-ratio", "Distribution of Song Ratio",
                         "Song Ratio (lower edge of the bin)", "Detections"},
                        ratios.bins) +
            "\n";
    html += barChartSvg({"peak-level", "Distribution of Peak Level (dB)",
                         "Peak Level (dB) (lower edge of the bin)", "Detections"},
                        levels.bins) +
            "\n";
    return html + "</div>\n";
}

std::string detectionTable(const std::vector<RankedDetection>& rows) {
    std::string html =
        "<table id=\"detections\"><thead><tr>"
        "<th data-type=\"number\">Rank</th><th data-type=\"text\">Date-time</th>"
        "<th data-type=\"text\">File</th><th data-type=\"number\">Offset (s)</th>"
        "<th data-type=\"number\">Length (s)</th>"
        "<th data-type=\"number\" aria-sort=\"descending\">Song Ratio</th>"
        "<th data-type=\"number\">Peak Level (dB)</th><th data-type=\"number\">Spectrogram</th>"
        "<th data-type=\"number\">Listen</th></tr></thead>\n<tbody>\n";
    for (const RankedDetection& row : rows) detectionRow(html, *row.detection, row.rank);
    return html + "</tbody></table>\n";
}

}  // namespace bm7::report
